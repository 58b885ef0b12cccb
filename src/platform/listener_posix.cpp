// POSIX implementation of listener.hpp.
#include "platform/listener.hpp"

#include "platform/posix_error.hpp"

#include <algorithm>
#include <cerrno>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ruvo::platform {

Result<Listener> listen_on_loopback() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno_error("socket", errno);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  // The step that failed names the error: "bind: Address already in use".
  const char* step = nullptr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    step = "bind";
  } else if (::listen(fd, SOMAXCONN) != 0) {
    step = "listen";
  } else if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    step = "getsockname";
  }
  if (step != nullptr) {
    int code = errno;
    ::close(fd);
    return errno_error(step, code);
  }
  return Listener{fd, ntohs(address.sin_port)};
}

std::uint64_t raise_open_file_limit(std::uint64_t wanted) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
    rlimit raised = limit;
    raised.rlim_cur = limit.rlim_max == RLIM_INFINITY ? wanted : std::min<rlim_t>(wanted, limit.rlim_max);
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit = raised;
  }
  return limit.rlim_cur == RLIM_INFINITY ? wanted : static_cast<std::uint64_t>(limit.rlim_cur);
}

void shut_down_socket(int fd) { ::shutdown(fd, SHUT_RDWR); }

void close_descriptor(int fd) { ::close(fd); }

}  // namespace ruvo::platform
