#include "http/connections.hpp"

#include "platform/listener.hpp"

namespace ruvo::desktop::http {

using Clock = std::chrono::steady_clock;

ConnectionRegistry::~ConnectionRegistry() {
  stop_sweeping();
  for (Tracked* tracked : tracked_) delete tracked;
}

Tracked* ConnectionRegistry::track(int fd) {
  auto* tracked = new Tracked;
  tracked->fd = fd;
  tracked->accepted = Clock::now();
  std::lock_guard<std::mutex> guard(mutex_);
  tracked_.insert(tracked);
  return tracked;
}

void ConnectionRegistry::forget(Tracked* tracked) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    tracked_.erase(tracked);
  }
  delete tracked;
}

std::size_t ConnectionRegistry::size() {
  std::lock_guard<std::mutex> guard(mutex_);
  return tracked_.size();
}

void ConnectionRegistry::start_sweeping(std::chrono::seconds head_timeout) {
  std::lock_guard<std::mutex> guard(sweep_mutex_);
  if (sweeping_) return;
  sweeping_ = true;
  sweeper_ = std::thread([this, head_timeout] { sweep(head_timeout); });
}

void ConnectionRegistry::stop_sweeping() {
  {
    std::lock_guard<std::mutex> guard(sweep_mutex_);
    sweeping_ = false;
  }
  sweep_wake_.notify_all();
  if (sweeper_.joinable()) sweeper_.join();
}

void ConnectionRegistry::sweep(std::chrono::seconds head_timeout) {
  std::unique_lock<std::mutex> lock(sweep_mutex_);
  while (sweeping_) {
    sweep_wake_.wait_for(lock, std::chrono::milliseconds(500));
    const auto limit = Clock::now() - head_timeout;
    std::lock_guard<std::mutex> guard(mutex_);
    for (Tracked* tracked : tracked_) {
      if (tracked->cut || tracked->head_done || tracked->accepted > limit) continue;
      // The descriptor is still the connection's: the library tells us
      // before closing it, and forget() takes this same lock.
      platform::shut_down_socket(tracked->fd);
      tracked->cut = true;
    }
  }
}

}  // namespace ruvo::desktop::http
