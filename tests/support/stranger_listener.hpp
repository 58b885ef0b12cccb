// A listener of another user on 127.0.0.1, as whatever program takes the port
// of a service that died: a process of the user "nobody" that answers every
// request as a healthy service would and keeps every byte it was sent. Only
// root can start one (can_start()).
#pragma once

#include <cstdint>
#include <string>

namespace ruvo::test {

class StrangerListener {
 public:
  static constexpr unsigned kNobody = 65534;

  // True when this process may start a process of another user.
  static bool can_start();

  // Forks the process, which drops to user and group kNobody and listens on
  // a free port. port() is 0 when that failed.
  StrangerListener();
  // Stops it and waits for it.
  ~StrangerListener();
  StrangerListener(const StrangerListener&) = delete;
  StrangerListener& operator=(const StrangerListener&) = delete;

  std::uint16_t port() const { return port_; }
  int pid() const { return pid_; }

  // Stops the process and gives every byte that any connection sent it, in
  // the order the connections came. Only the first call stops it.
  std::string received();

 private:
  int pid_ = -1;
  int hold_ = -1;    // closed to stop it
  int report_ = -1;  // what it received
  std::uint16_t port_ = 0;
  std::string received_;
};

}  // namespace ruvo::test
