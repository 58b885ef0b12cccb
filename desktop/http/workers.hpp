// The threads that answer what may take long (a model's answer, an import),
// so that no such request holds up the threads that carry every connection.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace ruvo::desktop::http {

// A fixed number of threads taking jobs in the order they came.
class WorkerPool {
 public:
  WorkerPool() = default;
  ~WorkerPool();  // stops
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Starts `threads` workers.
  void start(unsigned threads);

  // Queues `job` unless the pool is stopping. `accepted` runs first, under
  // the queue's lock, so nothing the job does can overtake it (a connection
  // it will resume is suspended by then). False, with neither run, once
  // stop() has begun.
  bool submit(std::function<void()> job, const std::function<void()>& accepted = {});

  // Lets every queued job run and finish, then ends the workers. Safe to
  // call more than once.
  void stop();

 private:
  void work();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool closing_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace ruvo::desktop::http
