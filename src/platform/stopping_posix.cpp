// POSIX implementation of stopping.hpp. The instance lock is an flock, which
// fcntl's F_GETLK does not see; Linux lists every flock, with the process
// that took it and the file's device and number, in /proc/locks.
#include "platform/stopping.hpp"

#include "platform/posix_error.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace ruvo::platform {

namespace {

// "08:01:1234567": the device's major and minor number in hexadecimal and
// the file's number in decimal, as /proc/locks writes them.
bool names_file(const std::string& field, const struct stat& st) {
  unsigned long major_number = 0;
  unsigned long minor_number = 0;
  unsigned long long inode = 0;
  char end = 0;
  if (std::sscanf(field.c_str(), "%lx:%lx:%llu%c", &major_number, &minor_number, &inode, &end) != 3) return false;
  return major_number == major(st.st_dev) && minor_number == minor(st.st_dev) &&
         inode == static_cast<unsigned long long>(st.st_ino);
}

}  // namespace

Result<std::optional<std::uint32_t>> instance_lock_owner(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return std::optional<std::uint32_t>{};
    return errno_error("stat " + path, errno);
  }
  std::ifstream locks("/proc/locks");
  if (!locks) return common::failure("/proc/locks cannot be read, so the lock's owner is not known");
  // "1: FLOCK  ADVISORY  WRITE 4242 08:01:1234567 0 EOF"; a waiter's line
  // has "->" after the number and holds nothing.
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream words(line);
    std::string number, kind, mode, access, pid, file;
    if (!(words >> number >> kind)) continue;
    if (kind == "->" || kind != "FLOCK") continue;
    if (!(words >> mode >> access >> pid >> file)) continue;
    if (!names_file(file, st)) continue;
    char* end = nullptr;
    const unsigned long value = std::strtoul(pid.c_str(), &end, 10);
    if (end == pid.c_str() || *end != '\0' || value == 0 || value > UINT32_MAX) continue;
    return std::optional<std::uint32_t>{static_cast<std::uint32_t>(value)};
  }
  return std::optional<std::uint32_t>{};
}

Result<void> ask_to_stop(std::uint32_t pid) {
  if (::kill(static_cast<pid_t>(pid), SIGTERM) == 0 || errno == ESRCH) return {};
  return errno_error("kill " + std::to_string(pid), errno);
}

bool process_runs(std::uint32_t pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

}  // namespace ruvo::platform
