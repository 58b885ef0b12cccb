// The connections the HTTP library has accepted, whether each has sent a
// whole request head yet, and the sweeper that cuts off those that take too
// long: a client that opens a connection and sends nothing must not hold it,
// nor, by holding many, keep out a client that sends its request at once.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <unordered_set>

namespace ruvo::desktop::http {

// One accepted connection, tracked until it closes.
struct Tracked {
  int fd = -1;
  std::chrono::steady_clock::time_point accepted;
  std::atomic<bool> head_done{false};
  bool cut = false;  // guarded by the registry's mutex
};

class ConnectionRegistry {
 public:
  ConnectionRegistry() = default;
  ~ConnectionRegistry();  // stops the sweeper; the library has closed every connection by then
  ConnectionRegistry(const ConnectionRegistry&) = delete;
  ConnectionRegistry& operator=(const ConnectionRegistry&) = delete;

  // A connection just accepted on descriptor `fd`; the registry owns it
  // until forget().
  Tracked* track(int fd);
  // The library is about to close the connection.
  void forget(Tracked* tracked);
  std::size_t size();

  // Whether a connection about to be accepted may be, with at most `bound`
  // open that are not being cut off: yes below the bound; at it, yes after
  // shutting down, as the sweeper does, the connection accepted longest ago
  // of those that have not sent a whole head; no when every one has, or when
  // twice `bound` are open counting those being cut off.
  bool make_room(std::size_t bound);

  // Starts the thread that, about every half second, shuts down each
  // connection without a whole head `head_timeout` after it was accepted.
  // Shutting the socket down wakes the library, which reads the end of the
  // stream and closes the connection itself.
  void start_sweeping(std::chrono::seconds head_timeout);
  void stop_sweeping();

 private:
  void sweep(std::chrono::seconds head_timeout);

  // Shuts the connection down and counts it cut. mutex_ held.
  void cut(Tracked* tracked);

  std::mutex mutex_;
  std::unordered_set<Tracked*> tracked_;
  std::size_t cut_ = 0;  // of tracked_, those cut off and not yet closed

  std::mutex sweep_mutex_;
  std::condition_variable sweep_wake_;
  bool sweeping_ = false;
  std::thread sweeper_;
};

}  // namespace ruvo::desktop::http
