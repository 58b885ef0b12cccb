#include "service/launcher.hpp"

#include "bin/output.hpp"
#include "common/paths.hpp"
#include "platform/platform.hpp"
#include "service/client.hpp"

namespace ruvo::service {
namespace {

constexpr std::string_view kWebViewFolderVariable = "WEBVIEW2_USER_DATA_FOLDER";
constexpr std::string_view kWebViewFolderName = "wv2-service";

// Starts the desktop program headless with its WebView2 data kept apart from
// the interactive instance's. The folder is created best-effort: the program
// is started even when that fails.
bool start_headless(const std::string& program) {
  std::vector<std::pair<std::string, std::string>> env;
  if (const auto data = common::desktop_data_folder()) {
    const std::string folder = common::join_path(*data, kWebViewFolderName);
    platform::create_folders(folder);
    env.emplace_back(std::string(kWebViewFolderVariable), folder);
  }
  return !platform::start_process(program, {std::string(kServiceArgument)}, env).has_value();
}

}  // namespace

bool probe_health(const ServiceInfo& info) {
  const ServiceReply reply = service_request(info, "GET", "/v1/health", nullptr, kHealthTimeoutS);
  if (!reply.ok() || !reply.value->is_object()) return false;
  const auto ok = reply.value->find("ok");
  return ok != reply.value->end() && ok->is_boolean() && ok->get<bool>();
}

std::optional<std::string> find_desktop_executable() {
  const auto self = platform::own_executable_path();
  if (!self) return std::nullopt;
  const auto folder = platform::parent_folder(*self);
  if (!folder) return std::nullopt;
  for (const std::string_view name : kDesktopCandidates) {
    std::string candidate = common::join_path(*folder, name);
    // Where names ignore letter case, "Ruvo.exe" beside ruvo.exe is ruvo.exe
    // itself; started with --service it would print its help text into an
    // agent's JSON-RPC stream. The running program is never the desktop one.
    if (platform::is_regular_file(candidate) && !platform::same_file(candidate, *self)) return candidate;
  }
  return std::nullopt;
}

std::optional<ServiceInfo> ensure_service() {
  if (auto info = read_service_info(); info && probe_health(*info)) return info;

  const auto program = find_desktop_executable();
  if (!program || !start_headless(*program)) return std::nullopt;

  for (int attempt = 0; attempt < kWaitAttempts; ++attempt) {
    platform::sleep_ms(kWaitPauseMs);
    auto info = read_service_info();
    if (info && probe_health(*info)) return info;
  }
  return std::nullopt;
}

int run_service_command(const std::vector<std::string>& /*words*/) {
  const auto program = find_desktop_executable();
  if (!program) bin::fail_and_exit("找不到 Ruvo 主程序");
  if (const auto error = platform::start_process(*program, {std::string(kServiceArgument)}, {})) {
    bin::fail_and_exit("启动失败：" + error->text());
  }
  platform::write_stdout("已启动 Ruvo 无界面服务\n");
  return 0;
}

}  // namespace ruvo::service
