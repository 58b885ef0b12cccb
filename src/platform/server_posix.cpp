// POSIX implementation of server.hpp, its file functions aside (those are in
// files_posix.cpp).
#include "platform/posix_error.hpp"
#include "platform/server.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace ruvo::platform {

namespace {

sigset_t stop_signal_set() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  return set;
}

}  // namespace

Detach detach_from_caller() {
  ::umask(077);
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGHUP, SIG_IGN);

  int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (null_fd < 0) {
    // Still let go of the caller's pipes; with nothing on 0 to 2 we must not
    // go on, or a later file would take those numbers.
    ::close(0);
    ::close(1);
    ::close(2);
    return Detach::kFailed;
  }
  for (int target = 0; target <= 2; ++target) {
    if (null_fd != target) ::dup2(null_fd, target);  // dup2 clears close-on-exec on the copy
  }
  if (null_fd > 2) ::close(null_fd);

  if (::setsid() >= 0) return Detach::kDone;
  // A process-group leader (a shell job, say) cannot start a session, but a
  // child of it always can.
  pid_t child = ::fork();
  if (child < 0) return Detach::kFailed;
  if (child > 0) return Detach::kParentExits;
  return ::setsid() >= 0 ? Detach::kDone : Detach::kFailed;
}

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

Result<Listener> listen_on_loopback() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno_error("socket", errno);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    int code = errno;
    ::close(fd);
    return errno_error("listen on 127.0.0.1", code);
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

void block_stop_signals() {
  // A caller may have left these ignored; waiting for them needs them live.
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGINT, SIG_DFL);
  sigset_t set = stop_signal_set();
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int wait_for_stop_signal() {
  sigset_t set = stop_signal_set();
  for (;;) {
    int signal_number = 0;
    if (::sigwait(&set, &signal_number) == 0) return signal_number;
  }
}

int wait_for_stop_signal_for(std::chrono::milliseconds timeout) {
  sigset_t set = stop_signal_set();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) left = std::chrono::nanoseconds(0);
    timespec wait{};
    wait.tv_sec = static_cast<time_t>(left.count() / 1000000000);
    wait.tv_nsec = static_cast<long>(left.count() % 1000000000);
    int signal_number = ::sigtimedwait(&set, nullptr, &wait);
    if (signal_number > 0) return signal_number;
    // EINTR: another signal's handler ran; wait out the rest of the time.
    if (errno != EINTR || left.count() == 0) return 0;
  }
}

void request_stop() { ::kill(::getpid(), SIGTERM); }

int current_pid() { return static_cast<int>(::getpid()); }

Result<void> start_detached_program(const std::vector<std::string>& words) {
  if (words.empty() || words[0].empty()) return Error{std::strerror(ENOENT), ENOENT};
  std::vector<std::string> copies(words);
  std::vector<char*> argv;
  for (auto& word : copies) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  if (int code = ::posix_spawn_file_actions_init(&actions); code != 0) return Error{std::strerror(code), code};
  if (int code = ::posix_spawnattr_init(&attributes); code != 0) {
    ::posix_spawn_file_actions_destroy(&actions);
    return Error{std::strerror(code), code};
  }
  ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  // Its own session: a Ctrl-C or hang-up at our terminal leaves the browser
  // alone. Signals we ignore or block are given back their defaults.
  sigset_t none;
  sigemptyset(&none);
  sigset_t all;
  sigfillset(&all);
  ::posix_spawnattr_setsigmask(&attributes, &none);
  ::posix_spawnattr_setsigdefault(&attributes, &all);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int code = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  ::posix_spawnattr_destroy(&attributes);
  ::posix_spawn_file_actions_destroy(&actions);
  if (code != 0) return Error{std::strerror(code), code};
  return {};
}

std::int64_t unix_seconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::string local_timestamp() {
  std::time_t now = std::time(nullptr);
  std::tm parts {};
  ::localtime_r(&now, &parts);
  char text[32];
  std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return std::string(text, n);
}

}  // namespace ruvo::platform
