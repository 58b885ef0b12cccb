#include "stress/stand_in.hpp"

#include "client/http.hpp"
#include "platform/platform.hpp"
#include "protocol/discovery.hpp"
#include "protocol/routes.hpp"

#include <sqlite3.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

namespace ruvo::stress {
namespace {

// Only a broken build waits this long for what takes milliseconds.
constexpr auto kStartPatience = std::chrono::seconds(60);

std::string from_env_or(const char* name, const char* built) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::string(value) : std::string(built);
}

bool reaped(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == pid;
}

}  // namespace

std::string ruvo_path() { return from_env_or("RUVO_TEST_PROGRAM", RUVO_STRESS_RUVO); }
std::string gui_path() { return from_env_or("RUVO_TEST_GUI", RUVO_STRESS_GUI); }

void use_built_programs() { ::setenv("RUVO_TEST_PROGRAM", ruvo_path().c_str(), 0); }

StandIn::StandIn(std::string app_data) : app_data_(std::move(app_data)) {}

StandIn::~StandIn() {
  if (running()) kill_now();
}

std::string StandIn::folder() const { return platform::join_path(app_data_, protocol::kDataFolderName); }
std::string StandIn::store_path() const { return platform::join_path(folder(), "ruvo-terms.sqlite3"); }
std::string StandIn::discovery_path() const {
  return platform::join_path(folder(), protocol::kDiscoveryFileName);
}

bool StandIn::start() {
  problem_.clear();
  const std::string last_token = info_.token;
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::string_view(*entry).rfind("APPDATA=", 0) != 0) env.emplace_back(*entry);
  }
  env.push_back("APPDATA=" + app_data_);
  std::vector<char*> envp;
  for (auto& text : env) envp.push_back(text.data());
  envp.push_back(nullptr);
  std::string program = gui_path();
  std::string word = "--service";
  char* argv[] = {program.data(), word.data(), nullptr};
  // Not in a process group of its own: the service then starts its session
  // without forking, and this pid stays the service's.
  if (::posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0) {
    pid_ = -1;
    problem_ = "cannot start " + program;
    return false;
  }

  const auto deadline = std::chrono::steady_clock::now() + kStartPatience;
  while (std::chrono::steady_clock::now() < deadline) {
    if (reaped(pid_)) {
      pid_ = -1;
      problem_ = "the service ended before it served (or forked away from its pid)";
      return false;
    }
    if (const auto text = platform::read_file(discovery_path())) {
      const auto found = protocol::parse_service_info(*text);
      if (found && found->token != last_token) {
        const auto health = client::service_request(*found, protocol::Route{"GET", "/v1/health", 10}, nullptr);
        if (health.ok() && health->is_object() && health->value("ok", false)) {
          info_ = *found;
          return true;
        }
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  problem_ = "no discovery file with a new token, or no healthy reply, within the patience";
  return false;
}

void StandIn::kill_now() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
}

int StandIn::stop() {
  if (pid_ <= 0) return -1;
  ::kill(pid_, SIGTERM);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long StandIn::peak_memory_kib() const {
  std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

std::optional<std::string> http_exchange(std::uint16_t port, std::string_view request) {
  // A service that stops reading must give this test an error, not SIGPIPE.
  static const bool sigpipe_ignored = [] { return ::signal(SIGPIPE, SIG_IGN) != SIG_ERR; }();
  (void)sigpipe_ignored;
  auto connected = platform::TcpStream::connect_loopback(port, 5000);
  if (!connected) return std::nullopt;
  platform::TcpStream* stream = &*connected;
  stream->set_timeouts(60000, 60000);
  if (!stream->write_all(request)) return std::nullopt;
  std::string received;
  char chunk[16384];
  for (;;) {
    const auto got = stream->read_some(chunk, sizeof chunk);
    if (!got.ok()) return std::nullopt;
    const std::size_t n = got.value();
    if (n == 0) return received;
    received.append(chunk, n);
  }
}

std::string request_text(std::string_view method, std::string_view path,
                         const std::map<std::string, std::string>& headers, std::string_view body) {
  std::string text = std::string(method) + " " + std::string(path) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  bool framed = false;
  for (const auto& [name, value] : headers) {
    text += name + ": " + value + "\r\n";
    framed |= name == "Content-Length" || name == "Transfer-Encoding";
  }
  if (!framed) text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  text += "Connection: close\r\n\r\n";
  text += body;
  return text;
}

HttpReply split_reply(std::string_view bytes) {
  HttpReply reply;
  const std::size_t space = bytes.find(' ');
  if (space != std::string_view::npos && bytes.size() >= space + 4) {
    reply.status = std::atoi(std::string(bytes.substr(space + 1, 3)).c_str());
  }
  const std::size_t end = bytes.find("\r\n\r\n");
  if (end != std::string_view::npos) reply.body = std::string(bytes.substr(end + 4));
  return reply;
}

StoreCheck inspect_store(const std::string& path) {
  StoreCheck check;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    check.error = "open: " + std::string(db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return check;
  }
  sqlite3_busy_timeout(db, 10000);
  auto query = [&](const char* sql, auto&& row) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
      check.error += std::string(sql) + ": " + sqlite3_errmsg(db) + "; ";
      return;
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) row(stmt);
    if (rc != SQLITE_DONE) check.error += std::string(sql) + ": " + sqlite3_errmsg(db) + "; ";
    sqlite3_finalize(stmt);
  };
  auto text = [](sqlite3_stmt* stmt, int column) {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return data ? std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column))) : std::string();
  };
  query("PRAGMA integrity_check", [&](sqlite3_stmt* stmt) { check.integrity += text(stmt, 0); });
  query("SELECT term, fields FROM terms", [&](sqlite3_stmt* stmt) { check.fields[text(stmt, 0)] = text(stmt, 1); });
  sqlite3_close(db);
  return check;
}

}  // namespace ruvo::stress
