#include "http/workers.hpp"

#include <utility>

namespace ruvo::desktop::http {

WorkerPool::~WorkerPool() { stop(); }

void WorkerPool::start(unsigned threads) {
  for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { work(); });
}

bool WorkerPool::submit(std::function<void()> job, const std::function<void()>& accepted) {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    if (closing_) return false;
    if (accepted) accepted();
    jobs_.push_back(std::move(job));
  }
  wake_.notify_one();
  return true;
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
