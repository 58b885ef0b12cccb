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
    if (tracked_.erase(tracked) > 0 && tracked->cut) --cut_;
  }
  delete tracked;
}

std::size_t ConnectionRegistry::size() {
  std::lock_guard<std::mutex> guard(mutex_);
  return tracked_.size();
}

bool ConnectionRegistry::make_room(std::size_t bound) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (tracked_.size() - cut_ < bound) return true;
  // Those cut off still hold their descriptors until the library has closed
  // them: a flood faster than that waits here rather than run out of them.
  if (tracked_.size() >= 2 * bound) return false;
  // Only at the bound, so the walk over every connection is paid by floods.
  Tracked* oldest = nullptr;
  for (Tracked* tracked : tracked_) {
    if (tracked->cut || tracked->head_done) continue;
    if (oldest == nullptr || tracked->accepted < oldest->accepted) oldest = tracked;
  }
  if (oldest == nullptr) return false;
  cut(oldest);
  return true;
}

void ConnectionRegistry::cut(Tracked* tracked) {
  // The descriptor is still the connection's: the library tells us before
  // closing it, and forget() takes the same lock.
  platform::shut_down_socket(tracked->fd);
  tracked->cut = true;
  ++cut_;
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
      cut(tracked);
    }
  }
}

}  // namespace ruvo::desktop::http
