// POSIX implementation of random.hpp: getrandom, else /dev/urandom.
#include "platform/random.hpp"

#include <cerrno>

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

namespace ruvo::platform {

std::optional<std::string> random_bytes(std::size_t count) {
  std::string out(count, '\0');
  std::size_t filled = 0;
  while (filled < count) {
    ssize_t n = ::getrandom(out.data() + filled, count - filled, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    filled += static_cast<std::size_t>(n);
  }
  if (filled == count) return out;

  // Kernels without getrandom still have the device.
  int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  filled = 0;
  while (filled < count) {
    ssize_t n = ::read(fd, out.data() + filled, count - filled);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    filled += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (filled != count) return std::nullopt;
  return out;
}

}  // namespace ruvo::platform
