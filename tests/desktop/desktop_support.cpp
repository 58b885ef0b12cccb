#include "desktop_support.hpp"

#include "platform/platform.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace ruvo::desktop::testing {

namespace {

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace

TempFolder::TempFolder() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/ruvo-desktop-test-XXXXXX";
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempFolder::~TempFolder() {
  if (path_.empty()) return;
  if (::testing::Test::HasFailure()) {
    std::fprintf(stderr, "kept the test folder %s\n", path_.c_str());
    return;
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::optional<std::string> raw_exchange(int port, std::string_view request) {
  auto connected = platform::TcpStream::connect_loopback(static_cast<std::uint16_t>(port), 5000);
  if (!connected) return std::nullopt;
  platform::TcpStream* stream = &*connected;
  stream->set_timeouts(30000, 30000);
  if (!stream->write_all(request)) return std::nullopt;
  std::string received;
  char chunk[8192];
  for (;;) {
    auto got = stream->read_some(chunk, sizeof chunk);
    if (!got.ok()) return std::nullopt;
    std::size_t n = got.value();
    if (n == 0) return received;
    received.append(chunk, n);
  }
}

int status_of(std::string_view reply) {
  auto space = reply.find(' ');
  if (space == std::string_view::npos || reply.size() < space + 4) return -1;
  int status = 0;
  for (char c : reply.substr(space + 1, 3)) {
    if (c < '0' || c > '9') return -1;
    status = status * 10 + (c - '0');
  }
  return status;
}

std::string head_of(std::string_view reply) {
  auto end = reply.find("\r\n\r\n");
  return std::string(reply.substr(0, end));
}

std::string body_of(std::string_view reply) {
  auto end = reply.find("\r\n\r\n");
  if (end == std::string_view::npos) return {};
  return std::string(reply.substr(end + 4));
}

std::string ruvo_request(std::string_view method, std::string_view path, std::string_view token,
                         std::string_view body) {
  std::string out;
  out.append(method).append(" ").append(path).append(" HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Ruvo-Token: ");
  out.append(token).append("\r\nContent-Type: application/json\r\nContent-Length: ");
  out.append(std::to_string(body.size())).append("\r\nConnection: close\r\n\r\n").append(body);
  return out;
}

std::string gui_program() { return RUVO_GUI_PROGRAM; }

std::string ruvo_program() { return RUVO_PROGRAM; }

Process::Process(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::pair<std::string, std::string>>& env, const std::string& stdout_path,
                 const std::string& stderr_path, const std::string& stdin_path) {
  // Everything the child needs is built before fork: after it, only
  // async-signal-safe calls are allowed.
  std::vector<std::string> env_text;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    std::string_view item(*entry);
    bool overridden = false;
    for (const auto& [name, value] : env) overridden = overridden || item.substr(0, item.find('=')) == name;
    if (!overridden) env_text.emplace_back(item);
  }
  for (const auto& [name, value] : env) env_text.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (auto& item : env_text) envp.push_back(item.data());
  envp.push_back(nullptr);
  std::vector<std::string> argv_text{program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& item : argv_text) argv.push_back(item.data());
  argv.push_back(nullptr);
  std::string out = stdout_path.empty() ? "/dev/null" : stdout_path;
  std::string err = stderr_path.empty() ? "/dev/null" : stderr_path;
  std::string in = stdin_path.empty() ? "/dev/null" : stdin_path;

  pid_t pid = ::fork();
  if (pid == 0) {
    int in_fd = ::open(in.c_str(), O_RDONLY);
    int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in_fd < 0 || out_fd < 0 || err_fd < 0) ::_exit(126);
    // An ignored SIGPIPE would survive exec; the program starts as a shell
    // would start it.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    ::sigaction(SIGPIPE, &default_action, nullptr);
    ::dup2(in_fd, 0);
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  pid_ = pid;
}

Process::~Process() {
  if (pid_ <= 0 || reaped_) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
}

void Process::signal(int number) const {
  if (pid_ > 0 && !reaped_) ::kill(pid_, number);
}

std::optional<int> Process::wait_exit(int limit_ms) {
  if (pid_ <= 0) return std::nullopt;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  for (;;) {
    int status = 0;
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      reaped_ = true;
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
      return -1;
    }
    if (done < 0 && errno != EINTR) return std::nullopt;
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

bool Process::running() {
  if (pid_ <= 0 || reaped_) return false;
  int status = 0;
  pid_t done = ::waitpid(pid_, &status, WNOHANG);
  if (done == pid_) {
    reaped_ = true;
    return false;
  }
  return true;
}

RunResult run_program(const TempFolder& folder, const std::string& program, const std::vector<std::string>& args,
                      int limit_ms) {
  return run_program(folder, program, args, {}, "", limit_ms);
}

RunResult run_program(const TempFolder& folder, const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::pair<std::string, std::string>>& env, std::string_view input,
                      int limit_ms) {
  std::string out = folder.file("run.out");
  std::string err = folder.file("run.err");
  std::string in = folder.file("run.in");
  {
    std::ofstream file(in, std::ios::binary | std::ios::trunc);
    file << input;
  }
  Process process(program, args, env, out, err, in);
  RunResult result;
  result.exit_code = process.wait_exit(limit_ms);
  result.out = read_text(out);
  result.err = read_text(err);
  return result;
}

std::optional<protocol::ServiceInfo> wait_for_discovery(const std::string& path, int limit_ms,
                                                       const std::string& not_token) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  for (;;) {
    if (auto text = platform::read_file(path)) {
      auto info = protocol::parse_service_info(*text);
      if (info && (not_token.empty() || info->token != not_token)) return *info;
    }
    if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace ruvo::desktop::testing

namespace ruvo::desktop::testing {

namespace {

// "R (sleeping)": the state letter of /proc/<pid>/stat, or 0 when the
// process is gone.
char process_state(int pid) {
  std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
  auto close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return 0;
  return stat[close + 2];
}

}  // namespace

std::optional<int> LoggedServiceStopper::pid() const {
  std::string log = read_text(data_folder_ + "/ruvo-gui.log");
  // "<date> <time> ruvo-gui <version> starting, pid N" begins a run; a file
  // begun by rotation repeats it as "... running, pid N (...)". Only lines
  // of that shape count: a logged request path could hold ", pid ".
  std::optional<int> found;
  std::size_t start = 0;
  while (start < log.size()) {
    auto end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    std::string_view line(log.data() + start, end - start);
    start = end + 1;
    constexpr std::size_t kStampBytes = 20;  // "YYYY-MM-DD HH:MM:SS "
    if (line.size() <= kStampBytes || line.substr(kStampBytes, 9) != "ruvo-gui ") continue;
    for (std::string_view mark : {" starting, pid ", " running, pid "}) {
      auto at = line.find(mark);
      if (at != std::string_view::npos) found = std::atoi(std::string(line.substr(at + mark.size())).c_str());
    }
  }
  if (!found) return std::nullopt;
  int pid = *found;
  if (pid <= 1) return std::nullopt;
  return pid;
}

bool LoggedServiceStopper::stop() {
  auto found = pid();
  if (!found) return true;
  // Only the program under test, never a process that reused the number.
  std::error_code error;
  auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(*found) + "/exe", error);
  auto gui = std::filesystem::weakly_canonical(gui_program(), error);
  if (exe.empty() || exe != gui) return process_state(*found) == 0;
  ::kill(*found, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kExitLimitMs);
  for (;;) {
    char state = process_state(*found);
    if (state == 0 || state == 'Z' || state == 'X') return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace ruvo::desktop::testing
