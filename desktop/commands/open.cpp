#include "commands/open.hpp"

#include "client/discovery.hpp"
#include "client/http.hpp"
#include "client/launcher.hpp"
#include "common/json.hpp"
#include "common/result.hpp"
#include "platform/daemon.hpp"
#include "platform/platform.hpp"
#include "protocol/routes.hpp"
#include "service/service.hpp"

#include <cstdlib>
#include <sstream>

namespace ruvo::desktop::commands {

namespace {

constexpr std::string_view kPrefix = "ruvo-gui.exe：";

// A service for the application-data folder that has just answered its
// health probe, started from this very program when none does, exactly as
// ruvo starts it.
common::Result<protocol::ServiceInfo> ensure_service() {
  auto folder = client::data_folder();
  if (!folder) return common::failure("找不到应用数据目录（APPDATA、XDG_CONFIG_HOME 和 HOME 都没有设置）");
  auto self = platform::own_executable_path();
  if (!self) return common::failure("找不到自己的可执行文件，启动不了本地服务");
  auto info = client::ensure_service(*self);
  if (info) return info;
  if (info.error().kind == common::ErrorKind::kNotStarted) {
    return common::failure("启动本地服务失败：" + info.error().text());
  }
  return common::failure("本地服务没有起来，原因见 " + platform::join_path(*folder, service::kLogFileName));
}

common::Result<std::string> sign_in_url() {
  auto info = ensure_service();
  if (!info) return info.error();
  auto reply = client::service_request(*info, protocol::kSignInLinkRoute, nullptr);
  if (reply && reply->is_object()) {
    auto url = reply->find("url");
    if (url != reply->end() && url->is_string()) return url->get<std::string>();
  }
  return common::failure("本地服务没有给出登录地址（它可能是旧版本：停掉它再试）");
}

int fail(const std::string& message) {
  platform::write_stderr(std::string(kPrefix) + message + "\n");
  return 1;
}

}  // namespace

std::vector<std::vector<std::string>> browser_commands(const char* browser_variable, const std::string& url) {
  std::vector<std::vector<std::string>> commands;
  std::string_view all = browser_variable ? browser_variable : "";
  while (!all.empty()) {
    auto colon = all.find(':');
    std::string_view one = all.substr(0, colon);
    all = colon == std::string_view::npos ? std::string_view() : all.substr(colon + 1);
    std::vector<std::string> words;
    bool placed = false;
    std::istringstream split{std::string(one)};
    for (std::string word; split >> word;) {
      for (auto at = word.find("%s"); at != std::string::npos; at = word.find("%s", at + url.size())) {
        word.replace(at, 2, url);
        placed = true;
      }
      words.push_back(word);
    }
    if (words.empty()) continue;
    if (!placed) words.push_back(url);
    commands.push_back(std::move(words));
  }
  commands.push_back({"xdg-open", url});
  return commands;
}

int run_url() {
  auto url = sign_in_url();
  if (!url) return fail(url.error().text());
  platform::write_stdout(*url + "\n");
  return 0;
}

int run_open() {
  auto url = sign_in_url();
  if (!url) return fail(url.error().text());
  platform::write_stdout(*url + "\n");
  std::string problems;
  for (const auto& command : browser_commands(std::getenv("BROWSER"), *url)) {
    auto started = platform::start_detached_program(command);
    if (started) return 0;
    problems += (problems.empty() ? "" : "；") + command[0] + "：" + started.error().text();
  }
  return fail("打不开浏览器（" + problems + "），请在浏览器里打开上面的地址");
}

}  // namespace ruvo::desktop::commands
