// POSIX implementation of instance_lock.hpp: an flock on a private file.
#include "platform/instance_lock.hpp"

#include "platform/posix_error.hpp"

#include <cerrno>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ruvo::platform {

InstanceLock::InstanceLock(InstanceLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

InstanceLock& InstanceLock::operator=(InstanceLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

InstanceLock::~InstanceLock() {
  if (fd_ >= 0) ::close(fd_);  // closing the descriptor releases the flock
}

bool InstanceLock::is_at(const std::string& path) const {
  if (fd_ < 0) return false;
  struct stat held {};
  struct stat named {};
  if (::fstat(fd_, &held) != 0 || ::lstat(path.c_str(), &named) != 0) return false;
  return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

LockResult try_lock_instance(const std::string& path) {
  // O_NOFOLLOW: a link put at the path neither creates nor locks its target.
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return {LockOutcome::kFailed, InstanceLock(), open_error(path, errno)};
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int code = errno;
    if (code == EINTR) continue;
    ::close(fd);
    if (code == EWOULDBLOCK) return {LockOutcome::kBusy, InstanceLock(), Error{}};
    return {LockOutcome::kFailed, InstanceLock(), errno_error("lock " + path, code)};
  }
  // Only once we hold it, so a second instance leaves the file as it is. A
  // lock file others may open is one they may lock, keeping us out.
  struct stat st {};
  std::optional<Error> problem;
  if (::fstat(fd, &st) != 0) {
    problem = errno_error("stat " + path, errno);
  } else if (!S_ISREG(st.st_mode)) {
    problem = common::failure(path + " is not a regular file");
  } else if ((st.st_mode & 07777) != 0600 && ::fchmod(fd, 0600) != 0) {
    problem = errno_error("chmod " + path, errno);
  }
  if (problem) {
    ::close(fd);
    return {LockOutcome::kFailed, InstanceLock(), *problem};
  }
  return {LockOutcome::kAcquired, InstanceLock(fd), Error{}};
}

}  // namespace ruvo::platform
