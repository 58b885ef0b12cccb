// A fake of the desktop application that ruvo's launcher starts in the
// end-to-end tests. Its behaviour comes from the environment:
//   FAKE_DESKTOP_RECORD       file to which one JSON line is appended at start:
//                             {"argv":[...],"cwd":"...","pid":N,"webview2":"..." or null}
//   FAKE_DESKTOP_MODE         "serve" (default); "exit": exit 0 at once, serving nothing;
//                             "unhealthy": serve, but health answers {"ok":false}
//   FAKE_DESKTOP_DELAY_MS     wait this long before listening (default 0)
//   FAKE_DESKTOP_LIFETIME_MS  exit this long after the start (default 20000)
//   FAKE_DESKTOP_PID          "self": the discovery file also names its own process id
//                             ("pid"); otherwise it names none, as
//                             the vendor's application does
// It listens on 127.0.0.1:0, writes the discovery file where ruvo reads it
// (app_data_folder()/com.corvanta.desktop/explain.json) with the token
// "fake-desktop-token-0123456789" and version "fake", and answers GET
// /v1/health; every other request gets a 404 JSON reply. It never reads
// standard input and never writes to standard output: its standard streams
// are reattached to /dev/null at once, so it does not hold the pipes of the
// ruvo that started it. Tests stop it by the recorded pid.
//
// The same program serves the Windows pass: Wine starts a Unix executable
// that a Windows program starts, so ruvo.exe under Wine runs this one. Its
// own path, APPDATA and WEBVIEW2_USER_DATA_FOLDER then arrive in Windows form
// on drive Z:, Wine's name for the Unix root, and are read back as Unix paths
// ("Z:\tmp\x" as "/tmp/x"): the record and the discovery file are then what
// the tests expect natively.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>
#include <string_view>
#include <thread>

#include "client/discovery.hpp"
#include "platform/platform.hpp"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::string_view kToken = "fake-desktop-token-0123456789";
constexpr int kConnectionWaitMs = 3000;

long env_number(const char* name, long fallback) {
  const char* value = std::getenv(name);
  if (value == nullptr || *value == '\0') return fallback;
  char* end = nullptr;
  const long number = std::strtol(value, &end, 10);
  return (*end == '\0' && number >= 0) ? number : fallback;
}

std::string env_text(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

// "Z:\tmp\x" -> "/tmp/x"; any other value is returned unchanged.
std::string from_wine_path(std::string value) {
  if (value.size() < 3 || (value[0] != 'Z' && value[0] != 'z') || value[1] != ':' || value[2] != '\\') return value;
  value.erase(0, 2);
  std::replace(value.begin(), value.end(), '\\', '/');
  return value;
}

bool write_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

void append_record(int argc, char** argv) {
  const std::string path = env_text("FAKE_DESKTOP_RECORD");
  if (path.empty()) return;
  nlohmann::json record = nlohmann::json::object();
  record["argv"] = nlohmann::json::array();
  for (int i = 0; i < argc; ++i) record["argv"].push_back(i == 0 ? from_wine_path(argv[i]) : std::string(argv[i]));
  const char* webview2 = std::getenv("WEBVIEW2_USER_DATA_FOLDER");
  record["webview2"] = webview2 == nullptr ? nlohmann::json(nullptr) : nlohmann::json(from_wine_path(webview2));
  record["pid"] = static_cast<long>(::getpid());
  char cwd[4096];
  record["cwd"] = ::getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) : std::string();
  // One write of the whole line to a file opened for appending, so lines of
  // instances started together do not interleave.
  const std::string line = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  write_all(fd, line);
  ::close(fd);
}

void detach_standard_streams() {
  const int null_fd = ::open("/dev/null", O_RDWR);
  if (null_fd < 0) return;
  for (int fd = 0; fd <= 2; ++fd) ::dup2(null_fd, fd);
  if (null_fd > 2) ::close(null_fd);
}

// Written to a temporary file and renamed, so ruvo never reads half of it.
bool write_discovery(uint16_t port) {
  const auto folder = ruvo::client::data_folder();
  if (!folder) return false;
  (void)ruvo::platform::create_folders(*folder);
  const auto path = ruvo::client::discovery_file_path();
  if (!path) return false;
  const std::string& target = *path;
  const std::string temporary = target + "." + std::to_string(::getpid()) + ".tmp";
  nlohmann::json content = {{"port", port}, {"token", std::string(kToken)}, {"version", "fake"}};
  if (env_text("FAKE_DESKTOP_PID") == "self") content["pid"] = static_cast<long>(::getpid());
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = write_all(fd, content.dump());
  if (::close(fd) != 0 || !written) return false;
  return ::rename(temporary.c_str(), target.c_str()) == 0;
}

int remaining_ms(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60000));
}

// Waits until fd is ready for `events`, for at most timeout_ms.
bool ready(int fd, short events, int timeout_ms) {
  pollfd item{fd, events, 0};
  int n;
  while ((n = ::poll(&item, 1, timeout_ms)) < 0 && errno == EINTR) {
  }
  return n > 0;
}

// Answers one connection: reads the head, sends the reply, half-closes and
// lets the client close first.
void answer(int fd, bool healthy, Clock::time_point deadline) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    if (!ready(fd, POLLIN, std::min(kConnectionWaitMs, remaining_ms(deadline)))) return;
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    head.append(buffer, static_cast<std::size_t>(n));
  }
  const std::string line = head.substr(0, head.find("\r\n"));
  const bool health = line.rfind("GET /v1/health ", 0) == 0 || line == "GET /v1/health";
  const std::string body = !health   ? R"({"ok":false,"message":"not found"})"
                           : healthy ? R"({"ok":true,"version":"fake","terms":0})"
                                     : R"({"ok":false})";
  const std::string status = health ? "200 OK" : "404 Not Found";
  const std::string reply = "HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\nContent-Length: " +
                            std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
  std::string_view rest = reply;
  while (!rest.empty()) {
    const ssize_t n = ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    rest.remove_prefix(static_cast<std::size_t>(n));
  }
  ::shutdown(fd, SHUT_WR);
  while (ready(fd, POLLIN, std::min(kConnectionWaitMs, remaining_ms(deadline)))) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno != EINTR)) break;
  }
}

}  // namespace

int main(int argc, char** argv) {
  const auto started = Clock::now();
  ::signal(SIGPIPE, SIG_IGN);
  if (const char* app_data = std::getenv("APPDATA"); app_data != nullptr) {
    ::setenv("APPDATA", from_wine_path(app_data).c_str(), 1);
  }
  append_record(argc, argv);
  detach_standard_streams();
  ::setsid();

  const std::string mode = env_text("FAKE_DESKTOP_MODE");
  if (mode == "exit") return 0;
  const auto deadline = started + std::chrono::milliseconds(env_number("FAKE_DESKTOP_LIFETIME_MS", 20000));
  std::this_thread::sleep_for(std::chrono::milliseconds(env_number("FAKE_DESKTOP_DELAY_MS", 0)));

  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener, 16) != 0 ||
      ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return 1;
  }
  if (!write_discovery(ntohs(address.sin_port))) return 1;

  while (remaining_ms(deadline) > 0) {
    if (!ready(listener, POLLIN, remaining_ms(deadline))) continue;
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    answer(fd, mode != "unhealthy", deadline);
    ::close(fd);
  }
  ::close(listener);
  return 0;
}
