#include "http/workers.hpp"

#include <utility>

namespace ruvo::desktop::http {

WorkerPool::~WorkerPool() { stop(); }

void WorkerPool::start(unsigned threads, std::size_t most_waiting) {
  most_waiting_ = most_waiting;
  for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
}

Submitted WorkerPool::submit(std::function<void()> job, const std::function<void()>& accepted) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (closing_) return Submitted::kStopped;
    if (most_waiting_ > 0 && jobs_.size() >= most_waiting_) return Submitted::kFull;
    if (accepted) accepted();
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
  return Submitted::kQueued;
}

void WorkerPool::stop() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    closing_ = true;
  }
  wake_.notify_all();
  for (auto& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
  threads_.clear();
}

void WorkerPool::work() {
  for (;;) {
    std::function<void()> job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return closing_ || !jobs_.empty(); });
      if (jobs_.empty()) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
  }
}

}  // namespace ruvo::desktop::http
