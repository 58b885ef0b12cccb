// The threads that answer what may take long (a model's answer, an import,
// a write waiting for the writer, a search), so that no such request holds
// up the threads that carry every connection.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace ruvo::desktop::http {

// What submit() did with a job.
enum class Submitted {
  kQueued,
  kFull,     // the queue held its most: the job was not taken
  kStopped,  // stop() has begun: the job was not taken
};

// A fixed number of threads taking jobs in the order they came.
class WorkerPool {
 public:
  WorkerPool() = default;
  ~WorkerPool();  // stops
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Starts `threads` workers; at most `most_waiting` jobs wait for one
  // (0: no bound).
  void start(unsigned threads, std::size_t most_waiting = 0);

  // Queues `job` unless the pool is stopping or its queue is full.
  // `accepted` runs first, under the queue's lock, so nothing the job does
  // can overtake it (a connection it will resume is suspended by then).
  // Neither runs when the job is not queued.
  Submitted submit(std::function<void()> job, const std::function<void()>& accepted = {});

  // Lets every queued job run and finish, then ends the workers. Safe to
  // call more than once.
  void stop();

 private:
  void work();

  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> jobs_;
  bool closing_ = false;
  std::size_t most_waiting_ = 0;
  std::vector<std::thread> threads_;
};

}  // namespace ruvo::desktop::http
