// POSIX implementation of user_files.hpp.
#include "platform/user_files.hpp"

#include "platform/posix_error.hpp"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ruvo::platform {

Result<PathKind> path_kind(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return PathKind::kMissing;
    return errno_error("stat " + path, errno);
  }
  if (S_ISREG(st.st_mode)) return PathKind::kRegular;
  if (S_ISLNK(st.st_mode)) return PathKind::kLink;
  if (S_ISDIR(st.st_mode)) return PathKind::kFolder;
  return PathKind::kOther;
}

Result<LimitedRead> read_regular_file(const std::string& path, std::size_t limit) {
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a
  // writer. On a regular file it changes nothing.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return errno_error("open " + path, errno);
  LimitedRead out;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int code = errno;
    ::close(fd);
    return errno_error("stat " + path, code);
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    out.not_regular = true;
    return out;
  }
  // The size may change while it is read: the bound is kept on what is read.
  std::string content;
  content.resize(std::min<std::size_t>(limit + 1, static_cast<std::size_t>(st.st_size) + 1));
  std::size_t filled = 0;
  for (;;) {
    if (filled == content.size()) {
      if (content.size() > limit) break;
      content.resize(std::min<std::size_t>(limit + 1, content.size() * 2 + 4096));
    }
    const ssize_t n = ::read(fd, content.data() + filled, content.size() - filled);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int code = errno;
      ::close(fd);
      return errno_error("read " + path, code);
    }
    if (n == 0) break;
    filled += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (filled > limit) {
    out.too_large = true;
    return out;
  }
  content.resize(filled);
  out.content = std::move(content);
  return out;
}

}  // namespace ruvo::platform
