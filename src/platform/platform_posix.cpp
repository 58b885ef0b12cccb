// POSIX implementation of the platform layer.
#include "platform/platform.hpp"

#include "common/utf8.hpp"
#include "platform/posix_error.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

extern char** environ;

namespace ruvo::platform {
namespace {

Error last_error() {
  const int code = errno;
  return Error{std::strerror(code), code};
}

bool write_fd(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

void init_process() {
  // A reader that went away (`ruvo health | head -c1`) must give a failed
  // write, not a silent death by SIGPIPE.
  ::signal(SIGPIPE, SIG_IGN);
}

std::vector<std::string> command_line_words(int argc, char** argv) {
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) words.push_back(common::to_valid_utf8(argv[i]));
  return words;
}

bool write_stdout(std::string_view bytes) { return write_fd(STDOUT_FILENO, bytes); }
bool write_stderr(std::string_view bytes) { return write_fd(STDERR_FILENO, bytes); }

bool stdout_is_terminal() { return ::isatty(STDOUT_FILENO) == 1; }
bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

Result<std::size_t> read_stdin(char* buffer, std::size_t capacity) {
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buffer, capacity);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return last_error();
  }
}

std::optional<std::string> get_env(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

Result<std::string> own_executable_path() {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return errno_error("readlink /proc/self/exe", errno);
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      return buffer;
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::string> parent_folder(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::nullopt;
  if (slash == 0) return std::string("/");
  return path.substr(0, slash);
}

char path_separator() { return '/'; }

bool is_regular_file(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  return !S_ISDIR(st.st_mode);
}

bool same_file(const std::string& a, const std::string& b) {
  struct stat sa {};
  struct stat sb {};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

Result<void> create_folders(const std::string& path) {
  if (path.empty()) return common::failure("no folder to create");
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return {};
    return common::failure(path + " is not a folder");
  }
  // A parent that cannot be made leaves the mkdir below to fail and say why.
  if (const auto parent = parent_folder(path); parent && *parent != path) (void)create_folders(*parent);
  if (::mkdir(path.c_str(), 0700) == 0) return {};
  const int code = errno;
  if (code == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return {};
  return errno_error("create folder " + path, code);
}

Result<std::string> read_file(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno_error("open " + path, errno);
  std::string content;
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int code = errno;
      ::close(fd);
      return errno_error("read " + path, code);
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return content;
}

Result<std::string> app_data_folder() {
  if (auto appdata = get_env("APPDATA"); appdata && !appdata->empty()) return *appdata;
  if (auto xdg = get_env("XDG_CONFIG_HOME"); xdg && !xdg->empty() && xdg->front() == '/') return *xdg;
  if (auto home = get_env("HOME"); home && !home->empty()) return *home + "/.config";
  return common::failure("no application-data folder");
}

Result<void> start_process(const std::string& program,
                                   const std::vector<std::string>& args,
                                   const std::vector<std::pair<std::string, std::string>>& extra_env) {
  // Everything the children need is prepared before fork: the child side only
  // calls async-signal-safe functions.
  std::vector<std::string> env_strings;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const std::string_view entry(*e);
    bool overridden = false;
    for (const auto& [name, value] : extra_env) {
      if (entry.size() > name.size() && entry.compare(0, name.size(), name) == 0 && entry[name.size()] == '=') {
        overridden = true;
      }
    }
    if (!overridden) env_strings.emplace_back(entry);
  }
  for (const auto& [name, value] : extra_env) env_strings.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);

  std::vector<std::string> argv_strings{program};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& s : argv_strings) argv.push_back(s.data());
  argv.push_back(nullptr);

  // The grandchild reports a failed exec through this pipe; a successful exec
  // closes it (O_CLOEXEC) and the read sees the end of the stream.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) return last_error();

  const pid_t middle = ::fork();
  if (middle < 0) {
    const Error e = last_error();
    ::close(report[0]);
    ::close(report[1]);
    return e;
  }
  if (middle == 0) {
    // The middle child exits at once, so the started program is re-parented
    // to init and never becomes a zombie of a long-running `ruvo mcp`.
    ::close(report[0]);
    const pid_t grandchild = ::fork();
    if (grandchild < 0) {
      const int code = errno;
      (void)!::write(report[1], &code, sizeof code);
      ::_exit(127);
    }
    if (grandchild == 0) {
      ::signal(SIGPIPE, SIG_DFL);
      ::execve(argv[0], argv.data(), envp.data());
      const int code = errno;
      (void)!::write(report[1], &code, sizeof code);
      ::_exit(127);
    }
    ::_exit(0);
  }

  ::close(report[1]);
  int status = 0;
  while (::waitpid(middle, &status, 0) < 0 && errno == EINTR) {
  }
  int code = 0;
  ssize_t n;
  do {
    n = ::read(report[0], &code, sizeof code);
  } while (n < 0 && errno == EINTR);
  ::close(report[0]);
  if (n == static_cast<ssize_t>(sizeof code)) return Error{std::strerror(code), code};
  return {};
}

void sleep_ms(int milliseconds) {
  timespec ts{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

void exit_process(int code) { ::_exit(code); }

// ---- TcpStream ----

TcpStream::TcpStream(TcpStream&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }

TcpStream& TcpStream::operator=(TcpStream&& other) noexcept {
  if (this != &other) {
    close();
    handle_ = other.handle_;
    other.handle_ = -1;
  }
  return *this;
}

TcpStream::~TcpStream() { close(); }

void TcpStream::close() {
  if (handle_ >= 0) {
    ::close(static_cast<int>(handle_));
    handle_ = -1;
  }
}

Result<TcpStream> TcpStream::connect_loopback(std::uint16_t port, int timeout_ms) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return last_error();
  TcpStream stream(fd);

  const int flags = ::fcntl(fd, F_GETFL, 0);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return last_error();

  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) return last_error();
    pollfd pfd{fd, POLLOUT, 0};
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
      timespec now{};
      ::clock_gettime(CLOCK_MONOTONIC, &now);
      const long elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
      const long left = timeout_ms - elapsed;
      if (left <= 0) return Error{"connection timed out", 0};
      const int ready = ::poll(&pfd, 1, static_cast<int>(left));
      if (ready > 0) break;
      if (ready == 0) return Error{"connection timed out", 0};
      if (errno != EINTR) return last_error();
    }
    int so_error = 0;
    socklen_t len = sizeof so_error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &so_error, &len) != 0) return last_error();
    if (so_error != 0) return Error{std::strerror(so_error), so_error};
  }
  if (::fcntl(fd, F_SETFL, flags) != 0) return last_error();
  return stream;
}

void TcpStream::set_timeouts(int read_ms, int write_ms) {
  const int fd = static_cast<int>(handle_);
  timeval rt{read_ms / 1000, static_cast<suseconds_t>((read_ms % 1000) * 1000)};
  timeval wt{write_ms / 1000, static_cast<suseconds_t>((write_ms % 1000) * 1000)};
  (void)::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &rt, sizeof rt);
  (void)::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wt, sizeof wt);
}

void TcpStream::set_read_timeout(int read_ms) {
  read_ms = std::max(read_ms, 1);
  const timeval rt{read_ms / 1000, static_cast<suseconds_t>((read_ms % 1000) * 1000)};
  (void)::setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_RCVTIMEO, &rt, sizeof rt);
}

// A socket read whose time-out expires fails with EAGAIN.
Error TcpStream::read_timed_out() { return Error{std::strerror(EAGAIN), EAGAIN}; }

Result<void> TcpStream::write_all(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::send(static_cast<int>(handle_), bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return last_error();
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return {};
}

Result<std::size_t> TcpStream::read_some(char* buffer, std::size_t capacity) {
  for (;;) {
    const ssize_t n = ::recv(static_cast<int>(handle_), buffer, capacity, 0);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno != EINTR) return last_error();
  }
}

Result<bool> TcpStream::wait_readable(int timeout_ms) {
  pollfd pfd{static_cast<int>(handle_), POLLIN, 0};
  const int ready = ::poll(&pfd, 1, std::max(timeout_ms, 0));
  if (ready > 0) return true;
  if (ready == 0 || errno == EINTR) return false;
  return last_error();
}

}  // namespace ruvo::platform
