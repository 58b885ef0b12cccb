// POSIX implementation of daemon.hpp.
#include "platform/daemon.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <spawn.h>
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

}  // namespace ruvo::platform
