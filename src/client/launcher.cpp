#include "client/launcher.hpp"

#include "client/discovery.hpp"
#include "client/http.hpp"
#include "platform/platform.hpp"
#include "protocol/programs.hpp"
#include "protocol/routes.hpp"

#include <algorithm>
#include <functional>

namespace ruvo::client {
namespace {

constexpr std::string_view kWebViewFolderVariable = "WEBVIEW2_USER_DATA_FOLDER";
constexpr std::string_view kWebViewFolderName = "wv2-service";

// Starts the service program headless with its WebView2 data kept apart from
// the interactive instance's. The folder is created best-effort: the program
// is started even when that fails.
common::Result<void> start_headless(const std::string& program) {
  std::vector<std::pair<std::string, std::string>> env;
  if (const auto data = data_folder()) {
    const std::string folder = platform::join_path(*data, kWebViewFolderName);
    (void)platform::create_folders(folder);
    env.emplace_back(std::string(kWebViewFolderVariable), folder);
  }
  return platform::start_process(program, {std::string(protocol::kServiceArgument)}, env);
}

// The pause between two attempts, in steps that each end with a word to
// whoever listens; the same length in all.
void pause_between_attempts(const std::function<void()>& still_waiting) {
  if (!still_waiting) return platform::sleep_ms(kWaitPauseMs);
  for (int slept = 0; slept < kWaitPauseMs; slept += kWaitTickMs) {
    platform::sleep_ms(std::min(kWaitTickMs, kWaitPauseMs - slept));
    still_waiting();
  }
}

// The listener for one kind of wait, or nothing when nobody listens.
std::function<void()> waiting_for(const OnWait& on_wait, Waiting what) {
  if (!on_wait) return {};
  return [&on_wait, what] { on_wait(what); };
}

}  // namespace

bool probe_health(const ServiceInfo& info, const std::function<void()>& still_waiting) {
  const ServiceReply reply = service_request(info, protocol::kHealthRoute, nullptr, still_waiting);
  if (!reply || !reply->is_object()) return false;
  const auto ok = reply->find("ok");
  return ok != reply->end() && ok->is_boolean() && ok->get<bool>();
}

common::Result<std::string> find_service_program() {
  const auto self = platform::own_executable_path();
  if (!self) return common::failure(std::string(kNoServiceProgram));
  const auto folder = platform::parent_folder(*self);
  if (!folder) return common::failure(std::string(kNoServiceProgram));
  for (const std::string_view name : protocol::kServiceProgramNames) {
    std::string candidate = platform::join_path(*folder, name);
    // Where names ignore letter case, "Ruvo.exe" beside ruvo.exe is ruvo.exe
    // itself; started with --service it would print its help text into an
    // agent's JSON-RPC stream. The running program is never the service one.
    if (platform::is_regular_file(candidate) && !platform::same_file(candidate, *self)) return candidate;
  }
  return common::failure(std::string(kNoServiceProgram));
}

namespace {

// ensure_service with the program to start found by `program`, which is only
// asked when no service answers.
common::Result<ServiceInfo> ensure(const std::function<common::Result<std::string>()>& program, const OnWait& on_wait) {
  const auto running = waiting_for(on_wait, Waiting::kService);
  if (auto info = read_service_info(); info && probe_health(*info, running)) return info;

  const auto found = program();
  if (!found) return found.error();
  if (auto started = start_headless(*found); !started) {
    common::Error error = started.error();
    error.kind = common::ErrorKind::kNotStarted;
    return error;
  }

  const auto started = waiting_for(on_wait, Waiting::kStartedService);
  for (int attempt = 0; attempt < kWaitAttempts; ++attempt) {
    pause_between_attempts(started);
    auto info = read_service_info();
    if (info && probe_health(*info, started)) return info;
  }
  return common::failure("no service answered after it was started");
}

}  // namespace

common::Result<ServiceInfo> ensure_service(const OnWait& on_wait) { return ensure(find_service_program, on_wait); }

common::Result<ServiceInfo> ensure_service(const std::string& program, const OnWait& on_wait) {
  return ensure([&program]() -> common::Result<std::string> { return program; }, on_wait);
}

common::Result<void> start_service() {
  const auto program = find_service_program();
  if (!program) return program.error();
  if (auto started = platform::start_process(*program, {std::string(protocol::kServiceArgument)}, {}); !started) {
    return common::failure(std::string(kStartFailedPrefix) + started.error().text());
  }
  return {};
}

}  // namespace ruvo::client
