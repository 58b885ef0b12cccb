#include "support/stranger_listener.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ruvo::test {
namespace {

constexpr char kHealthy[] =
    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 35\r\nConnection: close\r\n\r\n"
    "{\"ok\":true,\"version\":\"squat\",\"x\":1}";

bool write_all(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// One connection: everything it sends until the end of its request's head
// (or two seconds of silence) goes to `report`, then the healthy reply.
void serve(int fd, int report) {
  char buffer[4096];
  char tail[4] = {};
  for (;;) {
    pollfd item{fd, POLLIN, 0};
    if (::poll(&item, 1, 2000) <= 0) break;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    write_all(report, buffer, static_cast<std::size_t>(n));
    // The head ends at CR LF CR LF; ruvo's probe has no body.
    bool ended = false;
    for (ssize_t i = 0; i < n; ++i) {
      std::memmove(tail, tail + 1, 3);
      tail[3] = buffer[i];
      ended = ended || std::memcmp(tail, "\r\n\r\n", 4) == 0;
    }
    if (ended) break;
  }
  write_all(fd, kHealthy, sizeof kHealthy - 1);
  ::shutdown(fd, SHUT_WR);
}

// The child: only system calls, as the test process may have threads.
[[noreturn]] void run_child(int port_pipe, int hold, int report) {
  // Nothing of the test's own (its services' sockets among them) stays open
  // in a process of another user.
  for (int fd = 3; fd < 1024; ++fd) {
    if (fd != port_pipe && fd != hold && fd != report) ::close(fd);
  }
  if (::setgroups(0, nullptr) != 0 || ::setgid(StrangerListener::kNobody) != 0 ||
      ::setuid(StrangerListener::kNobody) != 0) {
    ::_exit(1);
  }
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 16) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::_exit(1);
  }
  const std::uint16_t port = ntohs(address.sin_port);
  if (!write_all(port_pipe, reinterpret_cast<const char*>(&port), sizeof port)) ::_exit(1);
  ::close(port_pipe);
  for (;;) {
    pollfd items[2] = {{listener, POLLIN, 0}, {hold, POLLIN, 0}};
    if (::poll(items, 2, -1) < 0) {
      if (errno == EINTR) continue;
      ::_exit(1);
    }
    if (items[1].revents != 0) ::_exit(0);  // the test closed its end
    if (items[0].revents == 0) continue;
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) continue;
    serve(fd, report);
    ::close(fd);
  }
}

}  // namespace

bool StrangerListener::can_start() { return ::geteuid() == 0; }

StrangerListener::StrangerListener() {
  int port_pipe[2];
  int hold[2];
  int report[2];
  if (::pipe2(port_pipe, O_CLOEXEC) != 0) return;
  if (::pipe2(hold, O_CLOEXEC) != 0 || ::pipe2(report, O_CLOEXEC) != 0) {
    ::close(port_pipe[0]);
    ::close(port_pipe[1]);
    return;
  }
  pid_ = ::fork();
  if (pid_ == 0) {
    ::close(port_pipe[0]);
    ::close(hold[1]);
    ::close(report[0]);
    run_child(port_pipe[1], hold[0], report[1]);
  }
  ::close(port_pipe[1]);
  ::close(hold[0]);
  ::close(report[1]);
  hold_ = hold[1];
  report_ = report[0];
  std::uint16_t port = 0;
  if (pid_ > 0 && ::read(port_pipe[0], &port, sizeof port) == sizeof port) port_ = port;
  ::close(port_pipe[0]);
}

std::string StrangerListener::received() {
  if (hold_ >= 0) {
    ::close(hold_);
    hold_ = -1;
  }
  if (report_ >= 0) {
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(report_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      received_.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(report_);
    report_ = -1;
  }
  if (pid_ > 0) {
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  return received_;
}

StrangerListener::~StrangerListener() { received(); }

}  // namespace ruvo::test
