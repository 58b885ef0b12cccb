#include "support/local_service.hpp"

#include "client/http.hpp"
#include "platform/platform.hpp"
#include "protocol/routes.hpp"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace ruvo::test {
namespace {

using Clock = std::chrono::steady_clock;

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

// The state letter of /proc/<pid>/stat, or 0 when the process is gone.
char process_state(int pid) {
  const std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  if (close == std::string::npos || close + 2 >= stat.size()) return 0;
  return stat[close + 2];
}

bool healthy(const protocol::ServiceInfo& info) {
  const auto health = client::service_request(info, protocol::Route{"GET", "/v1/health", 10}, nullptr);
  return health && health->is_object() && health->value("ok", false);
}

}  // namespace

std::string gui_program() {
  const char* value = std::getenv("RUVO_TEST_GUI");
  if (value != nullptr && *value != '\0') return value;
  return RUVO_TEST_BUILT_GUI;
}

std::optional<protocol::ServiceInfo> wait_for_discovery(const std::string& path, int limit_ms,
                                                        const std::string& not_token) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
  for (;;) {
    if (const auto text = platform::read_file(path)) {
      auto info = protocol::parse_service_info(*text);
      if (info && (not_token.empty() || info->token != not_token)) return std::move(info).value();
    }
    if (Clock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// ---- LocalService ----

LocalService::LocalService(std::string app_data) : app_data_(std::move(app_data)) {}

LocalService::~LocalService() {
  if (running()) kill_now();
}

std::string LocalService::folder() const { return platform::join_path(app_data_, protocol::kDataFolderName); }
std::string LocalService::store_path() const { return platform::join_path(folder(), "ruvo-terms.sqlite3"); }
std::string LocalService::discovery_path() const {
  return platform::join_path(folder(), protocol::kDiscoveryFileName);
}

bool LocalService::start() {
  problem_.clear();
  const std::string last_token = info_.token;
  // In the test's process group, not one of its own: the service then starts
  // its session without forking, and this pid stays the service's.
  child_ = std::make_unique<Child>(gui_program(), std::vector<std::string>{"--service"},
                                   std::map<std::string, std::string>{{"APPDATA", app_data_}});
  if (!child_->started()) {
    child_.reset();
    problem_ = "cannot start " + gui_program();
    return false;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(kStartLimitMs);
  while (Clock::now() < deadline) {
    if (!child_->running()) {
      child_.reset();
      problem_ = "the service ended before it served (or forked away from its pid)";
      return false;
    }
    if (const auto text = platform::read_file(discovery_path())) {
      const auto found = protocol::parse_service_info(*text);
      if (found && found->token != last_token && healthy(*found)) {
        info_ = *found;
        return true;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  problem_ = "no discovery file with a new token, or no healthy reply, within the limit";
  return false;
}

void LocalService::kill_now() { child_.reset(); }

int LocalService::stop() {
  if (!child_) return -1;
  child_->signal(SIGTERM);
  const auto code = child_->wait_exit(kExitLimitMs);
  child_.reset();
  return code && *code < 128 ? *code : -1;
}

long LocalService::peak_memory_kib() const {
  std::ifstream in("/proc/" + std::to_string(pid()) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  }
  return -1;
}

// ---- RuvoWithService ----

RuvoWithService::RuvoWithService() {
  const std::string gui = gui_program();
  if (gui.empty() || running_under_launcher()) return;
  programs_ = std::make_unique<ProgramDir>(std::vector<std::pair<std::string, std::string>>{{"ruvo-gui.exe", gui}});
  std::error_code error;
  service_program_ = std::filesystem::canonical(programs_->file("ruvo-gui.exe"), error).string();
}

RuvoWithService::~RuvoWithService() {
  if (!service_program_.empty()) kill_all_running(service_program_);
}

bool RuvoWithService::usable(std::string* why) const {
  if (gui_program().empty()) {
    *why = "no ruvo-gui.exe in this build (RUVO_TEST_GUI is not set)";
    return false;
  }
  if (running_under_launcher()) {
    *why = "the local service is a native program";
    return false;
  }
  return programs_ != nullptr;
}

RunResult RuvoWithService::ruvo(std::vector<std::string> words, std::optional<std::string> input) const {
  return run({.words = std::move(words), .program = programs_->ruvo(), .env = appdata_.env(),
              .stdin_bytes = std::move(input)});
}

// ---- a service that ruvo started ----

std::optional<int> logged_service_pid(const std::string& data_folder) {
  const std::string log = read_text(data_folder + "/ruvo-gui.log");
  // "<date> <time> ruvo-gui <version> starting, pid N" begins a run; a file
  // begun by rotation repeats it as "... running, pid N (...)". Only lines
  // of that shape count: a logged request path could hold ", pid ".
  std::optional<int> found;
  std::size_t start = 0;
  while (start < log.size()) {
    auto end = log.find('\n', start);
    if (end == std::string::npos) end = log.size();
    const std::string_view line(log.data() + start, end - start);
    start = end + 1;
    constexpr std::size_t kStampBytes = 20;  // "YYYY-MM-DD HH:MM:SS "
    if (line.size() <= kStampBytes || line.substr(kStampBytes, 9) != "ruvo-gui ") continue;
    for (const std::string_view mark : {" starting, pid ", " running, pid "}) {
      const auto at = line.find(mark);
      if (at != std::string_view::npos) found = std::atoi(std::string(line.substr(at + mark.size())).c_str());
    }
  }
  if (!found || *found <= 1) return std::nullopt;
  return found;
}

bool stop_logged_service(const std::string& data_folder, const std::string& program) {
  const auto found = logged_service_pid(data_folder);
  if (!found) return true;
  // Only the program under test, never a process that reused the number.
  std::error_code error;
  const auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(*found) + "/exe", error);
  const auto expected = std::filesystem::weakly_canonical(program, error);
  if (exe.empty() || exe != expected) return process_state(*found) == 0;
  ::kill(*found, SIGTERM);
  const auto deadline = Clock::now() + std::chrono::milliseconds(kExitLimitMs);
  for (;;) {
    const char state = process_state(*found);
    if (state == 0 || state == 'Z' || state == 'X') return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace ruvo::test
