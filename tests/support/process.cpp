#include "support/process.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <utility>

extern char** environ;

namespace ruvo::test {
namespace {

using Clock = std::chrono::steady_clock;

// A file descriptor closed when it goes out of scope, so every early return
// of run() releases its pipe ends.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }

  int get() const { return fd_; }
  bool open() const { return fd_ >= 0; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read;
  Fd write;
};

// Close-on-exec, so a pipe of one run() never leaks into another child.
bool make_pipe(Pipe& pipe) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return false;
  pipe.read = Fd(fds[0]);
  pipe.write = Fd(fds[1]);
  return true;
}

// A pseudo-terminal in raw mode: the child writes to `write` (its terminal),
// the test reads from `read`. Raw, so no line ending is rewritten on the way.
bool make_terminal(Pipe& pipe) {
  Fd master(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!master.open() || ::grantpt(master.get()) != 0 || ::unlockpt(master.get()) != 0) return false;
  const char* name = ::ptsname(master.get());
  if (name == nullptr) return false;
  Fd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!slave.open()) return false;
  termios mode{};
  if (::tcgetattr(slave.get(), &mode) != 0) return false;
  ::cfmakeraw(&mode);
  if (::tcsetattr(slave.get(), TCSANOW, &mode) != 0) return false;
  pipe.read = std::move(master);
  pipe.write = std::move(slave);
  return true;
}

void set_nonblocking(int fd) { ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK); }

std::string file_name(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

void add_note(std::string& err, const std::string& note) {
  if (!err.empty() && err.back() != '\n') err += '\n';
  err += "[run] " + note + "\n";
}

std::string join_words(const std::vector<std::string>& words) {
  std::string text;
  for (const auto& word : words) text += (text.empty() ? "" : " ") + word;
  return text;
}

// The test's environment without `unset`, with `env` applied. Wine sets
// APPDATA inside every Windows program to its prefix's folder, whatever the
// Unix environment says, but passes other variables through: behind the
// launcher, APPDATA also goes as RUVO_WINE_APPDATA, which the shim turns
// back into APPDATA.
std::vector<std::string> environment_for(const std::vector<std::string>& argv,
                                         const std::map<std::string, std::string>& env,
                                         const std::vector<std::string>& unset) {
  const std::vector<std::string> launcher = launcher_words();
  const bool behind_launcher = !launcher.empty() && argv.size() > launcher.size() &&
                               std::equal(launcher.begin(), launcher.end(), argv.begin());
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    std::string text(*entry);
    const std::string name = text.substr(0, text.find('='));
    const bool removed = std::find(unset.begin(), unset.end(), name) != unset.end();
    if (!removed && env.count(name) == 0) entries.push_back(std::move(text));
  }
  for (const auto& [name, value] : env) {
    entries.push_back(name + "=" + value);
    if (name == "APPDATA" && behind_launcher) entries.push_back("RUVO_WINE_APPDATA=" + value);
  }
  return entries;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (auto& text : texts) result.push_back(text.data());
  result.push_back(nullptr);
  return result;
}

// Reads what is available now; false once the pipe has reached its end (the
// descriptor is then closed).
bool read_available(Fd& fd, std::string& into) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    fd.reset();
    return false;
  }
}

// Once the child has exited, every byte it wrote is already in the pipe (its
// writes returned), so one non-blocking sweep collects the rest; a grandchild
// that still holds the pipe open must not keep run() waiting.
void drain(Fd& fd, std::string& into) {
  if (fd.open()) read_available(fd, into);
  fd.reset();
}

void record_status(int status, RunResult& result) {
  if (status == -1) return;  // not known: waitpid failed
  if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.killed_by_signal = true;
    result.signal = WTERMSIG(status);
  }
}

int wait_blocking(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// A descriptor that becomes readable when the child exits, or -1 where the
// kernel has no pidfd (the loop then wakes every 20 ms to look).
int open_pidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = ::syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) {
    ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
  }
#endif
  (void)pid;
  return -1;
}

}  // namespace

Child::Child(const std::string& program, const std::vector<std::string>& words,
             const std::map<std::string, std::string>& env, const Files& files) {
  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), words.begin(), words.end());
  std::vector<std::string> env_text = environment_for(argv_text, env, {});
  std::vector<char*> envp = pointers(env_text);
  std::vector<char*> argv = pointers(argv_text);

  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  const std::string in = files.in.empty() ? "/dev/null" : files.in;
  ::posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
  const std::string out = files.out.empty() ? "/dev/null" : files.out;
  const std::string err = files.err.empty() ? "/dev/null" : files.err;
  ::posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  // An ignored SIGPIPE would survive exec; the program starts as a shell
  // would start it.
  posix_spawnattr_t attributes;
  ::posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  ::posix_spawnattr_setsigdefault(&attributes, &defaults);
  sigset_t none;
  sigemptyset(&none);
  ::posix_spawnattr_setsigmask(&attributes, &none);
  ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  pid_t pid = -1;
  if (::posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data()) == 0) pid_ = pid;
  ::posix_spawnattr_destroy(&attributes);
  ::posix_spawn_file_actions_destroy(&actions);
  if (pid_ <= 0) ADD_FAILURE() << "cannot start " << program;
}

Child::~Child() {
  if (pid_ <= 0 || reaped_) return;
  ::kill(pid_, SIGKILL);
  wait_blocking(pid_);
}

void Child::signal(int number) const {
  if (pid_ > 0 && !reaped_) ::kill(pid_, number);
}

std::optional<int> Child::wait_exit(int limit_ms) {
  if (pid_ <= 0) return std::nullopt;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
  for (;;) {
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      reaped_ = true;
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
      return -1;
    }
    if (done < 0 && errno != EINTR) return std::nullopt;
    if (Clock::now() >= deadline) return std::nullopt;
    ::usleep(10000);
  }
}

bool Child::running() {
  if (pid_ <= 0 || reaped_) return false;
  int status = 0;
  if (::waitpid(pid_, &status, WNOHANG) == pid_) reaped_ = true;
  return !reaped_;
}

std::vector<std::string> command_for(const std::string& program, const std::vector<std::string>& words) {
  const std::string under_test = ruvo_program();
  std::vector<std::string> argv;
  if (program == under_test || (!under_test.empty() && file_name(program) == file_name(under_test))) {
    argv = launcher_words();
  }
  argv.push_back(program);
  argv.insert(argv.end(), words.begin(), words.end());
  return argv;
}

int spawn_job(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
              const std::vector<std::string>& unset, int in, int out, int err, const std::string& cwd,
              std::string* error) {
  std::vector<std::string> entries = environment_for(argv, env, unset);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (in >= 0) {
    posix_spawn_file_actions_adddup2(&actions, in, 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
  posix_spawn_file_actions_adddup2(&actions, out, 1);
  posix_spawn_file_actions_adddup2(&actions, err, 2);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setpgroup(&attributes, 0);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  sigaddset(&signals, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &signals);

  std::vector<std::string> argv_text = argv;
  std::vector<char*> argv_pointers = pointers(argv_text);
  std::vector<char*> env_pointers = pointers(entries);
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, argv.front().c_str(), &actions, &attributes, argv_pointers.data(),
                                     env_pointers.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    *error = std::strerror(spawned);
    return -1;
  }
  return pid;
}

std::string ruvo_program() {
  const char* value = std::getenv("RUVO_TEST_PROGRAM");
  return value == nullptr ? std::string() : std::string(value);
}

std::vector<std::string> launcher_words() {
  std::vector<std::string> words;
  const char* value = std::getenv("RUVO_TEST_LAUNCHER");
  if (value == nullptr) return words;
  std::string word;
  for (const char* c = value;; ++c) {
    if (*c == '\0' || *c == ' ' || *c == '\t') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
      if (*c == '\0') break;
    } else {
      word += *c;
    }
  }
  return words;
}

bool running_under_launcher() { return !launcher_words().empty(); }

RunResult run(const RunSpec& settings) {
  RunResult result;

  // Feeding standard input of a child that has stopped reading must give
  // EPIPE here, not end the test process.
  static std::once_flag ignore_sigpipe;
  std::call_once(ignore_sigpipe, [] { ::signal(SIGPIPE, SIG_IGN); });

  const std::string program = settings.program.empty() ? ruvo_program() : settings.program;
  if (program.empty()) {
    ADD_FAILURE() << "RUVO_TEST_PROGRAM is not set: the end-to-end tests need the program under test";
    add_note(result.err, "RUVO_TEST_PROGRAM is not set");
    return result;
  }
  const std::vector<std::string> argv = command_for(program, settings.words);

  Pipe in, out, err;
  const auto make_out = settings.terminal_outputs ? make_terminal : make_pipe;
  const auto make_err = settings.terminal_outputs || settings.terminal_stderr ? make_terminal : make_pipe;
  if ((settings.stdin_bytes && !make_pipe(in)) || !make_out(out) || !make_err(err)) {
    add_note(result.err, std::string("cannot create pipes: ") + std::strerror(errno));
    return result;
  }
  if (settings.close_stdout) out.read.reset();
  if (settings.close_stderr) err.read.reset();

  std::string spawn_error;
  const pid_t pid = spawn_job(argv, settings.env, settings.unset_env, settings.stdin_bytes ? in.read.get() : -1,
                              out.write.get(), err.write.get(), settings.cwd, &spawn_error);
  if (pid < 0) {
    add_note(result.err, "cannot start " + join_words(argv) + ": " + spawn_error);
    return result;
  }

  in.read.reset();
  out.write.reset();
  err.write.reset();
  for (Fd* fd : {&in.write, &out.read, &err.read}) {
    if (fd->open()) set_nonblocking(fd->get());
  }
  Fd pidfd(open_pidfd(pid));
  static const std::string kNoInput;
  const std::string& input = settings.stdin_bytes ? *settings.stdin_bytes : kNoInput;
  std::size_t written = 0;
  if (in.write.open() && input.empty()) in.write.reset();

  const auto deadline = Clock::now() + std::chrono::seconds(settings.timeout_seconds);
  int status = 0;
  for (;;) {
    const pid_t waited = ::waitpid(pid, &status, WNOHANG);
    if (waited == pid) break;
    if (waited < 0 && errno != EINTR) {
      add_note(result.err, std::string("waitpid failed: ") + std::strerror(errno));
      status = -1;
      break;
    }
    const auto now = Clock::now();
    if (now >= deadline) {
      // The whole group: a shell script's children hold the pipes as well.
      ::kill(-pid, SIGKILL);
      ::kill(pid, SIGKILL);
      status = wait_blocking(pid);
      result.timed_out = true;
      break;
    }
    const auto remaining = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
    int wait_ms = static_cast<int>(std::min<long long>(remaining, pidfd.open() ? 60000 : 20));

    pollfd fds[4];
    nfds_t count = 0;
    for (Fd* fd : {&out.read, &err.read}) {
      if (fd->open()) fds[count++] = pollfd{fd->get(), POLLIN, 0};
    }
    if (in.write.open()) fds[count++] = pollfd{in.write.get(), POLLOUT, 0};
    if (pidfd.open()) fds[count++] = pollfd{pidfd.get(), POLLIN, 0};
    if (::poll(fds, count, wait_ms) < 0) continue;

    if (out.read.open()) read_available(out.read, result.out);
    if (err.read.open()) read_available(err.read, result.err);
    while (in.write.open() && written < input.size()) {
      const std::size_t chunk = std::min<std::size_t>(input.size() - written, 65536);
      const ssize_t n = ::write(in.write.get(), input.data() + written, chunk);
      if (n > 0) {
        written += static_cast<std::size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        break;
      } else {
        in.write.reset();  // the child closed its standard input
      }
    }
    if (in.write.open() && written == input.size()) in.write.reset();
  }

  in.write.reset();
  drain(out.read, result.out);
  drain(err.read, result.err);
  record_status(status, result);
  if (result.timed_out) {
    result.exit_code = -1;
    add_note(result.err, "timed out after " + std::to_string(settings.timeout_seconds) +
                             " s; killed the process group of " + join_words(argv));
  }
  return result;
}

std::vector<int> processes_running(const std::string& program) {
  std::vector<int> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::error_code link_error;
    const auto target = std::filesystem::read_symlink(entry.path() / "exe", link_error);
    if (!link_error && target == program) found.push_back(std::stoi(name));
  }
  return found;
}

void kill_all_running(const std::string& program) {
  for (const int pid : processes_running(program)) ::kill(pid, SIGKILL);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!processes_running(program).empty() && std::chrono::steady_clock::now() < deadline) {
    ::usleep(20000);
  }
}

}  // namespace ruvo::test
