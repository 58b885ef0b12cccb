#include "open.hpp"

#include "common/json.hpp"
#include "common/result.hpp"
#include "common/utf8.hpp"
#include "http/sign_in.hpp"
#include "model/model_http.hpp"
#include "platform/daemon.hpp"
#include "platform/platform.hpp"
#include "protocol/programs.hpp"
#include "protocol/routes.hpp"
#include "protocol/service_info.hpp"
#include "service.hpp"

#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <sstream>

namespace ruvo::desktop {

namespace {

using common::JsonValue;
using protocol::ServiceInfo;

// As long as ruvo waits for a service it has started.
constexpr int kWaitAttempts = 40;
constexpr int kWaitPauseMs = 300;
constexpr std::size_t kMaxReplyBytes = 1024 * 1024;
constexpr std::string_view kPrefix = "ruvo-gui.exe：";

struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
  auto& body = *static_cast<std::string*>(user);
  const std::size_t bytes = size * count;
  if (body.size() + bytes > kMaxReplyBytes) return 0;
  body.append(data, bytes);
  return bytes;
}

// One request to the service on 127.0.0.1 with the header token, as ruvo
// sends it; the reply's JSON object, or nothing.
std::optional<JsonValue> call(const ServiceInfo& info, bool post, std::string_view path, long timeout_s) {
  if (!init_model_http()) return std::nullopt;
  std::unique_ptr<CURL, EasyCleanup> easy(curl_easy_init());
  if (!easy) return std::nullopt;
  const std::string url = "http://127.0.0.1:" + std::to_string(info.port) + std::string(path);
  const std::string token = std::string(protocol::kTokenHeader) + ": " + info.token;
  std::unique_ptr<curl_slist, ListCleanup> headers(curl_slist_append(nullptr, token.c_str()));
  if (!headers) return std::nullopt;
  std::string body;
  CURL* e = easy.get();
  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  // The service is on this machine: a proxy from the environment must not
  // be asked for it.
  curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, 3L);
  curl_easy_setopt(e, CURLOPT_TIMEOUT, timeout_s);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, on_body);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &body);
  if (post) {
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, "");
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE, 0L);
  }
  if (curl_easy_perform(e) != CURLE_OK) return std::nullopt;
  auto parsed = common::parse_json(body);
  if (!parsed || !parsed->is_object()) return std::nullopt;
  return std::move(parsed).value();
}

// The service named by the discovery file, when it answers its health probe.
std::optional<ServiceInfo> answering_service(const std::string& discovery_path) {
  auto text = platform::read_file(discovery_path);
  if (!text) return std::nullopt;
  auto info = protocol::parse_service_info(*text);
  if (!info) return std::nullopt;
  auto health = call(*info, false, protocol::kHealthRoute.path, 3);
  if (!health) return std::nullopt;
  auto ok = health->find("ok");
  if (ok == health->end() || *ok != true) return std::nullopt;
  return std::move(info).value();
}

common::Result<ServiceInfo> ensure_service() {
  auto folder = data_folder();
  if (!folder) return common::failure("找不到应用数据目录（APPDATA、XDG_CONFIG_HOME 和 HOME 都没有设置）");
  const std::string discovery_path = platform::join_path(*folder, protocol::kDiscoveryFileName);
  if (auto info = answering_service(discovery_path)) return *info;

  auto self = platform::own_executable_path();
  if (!self) return common::failure("找不到自己的可执行文件，启动不了本地服务");
  if (auto started = platform::start_process(*self, {std::string(protocol::kServiceArgument)}, {}); !started) {
    return common::failure("启动本地服务失败：" + started.error().text());
  }
  for (int attempt = 0; attempt < kWaitAttempts; ++attempt) {
    platform::sleep_ms(kWaitPauseMs);
    if (auto info = answering_service(discovery_path)) return *info;
  }
  return common::failure("本地服务没有起来，原因见 " + platform::join_path(*folder, kLogFileName));
}

common::Result<std::string> sign_in_url() {
  auto info = ensure_service();
  if (!info) return info.error();
  auto reply = call(*info, true, kSignInLinkPath, 10);
  if (reply) {
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

}  // namespace ruvo::desktop
