#include "model/model_config.hpp"

#include "common/utf8.hpp"
#include "platform/files.hpp"
#include "platform/platform.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace ruvo::desktop::model {

namespace {

bool starts_with_ignoring_case(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

bool is_host_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '-' ||
         c == '_';
}

bool is_digits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// "host", "host:port", "[v6]" or "[v6]:port".
bool valid_authority(std::string_view authority) {
  std::string_view host = authority;
  std::string_view port;
  if (!authority.empty() && authority.front() == '[') {
    auto close = authority.find(']');
    if (close == std::string_view::npos || close < 3) return false;
    for (char c : authority.substr(1, close - 1)) {
      if (!(std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.')) return false;
    }
    std::string_view rest = authority.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return false;
    host = {};
    if (!rest.empty()) port = rest.substr(1);
    if (!rest.empty() && port.empty()) return false;
  } else {
    auto colon = authority.find(':');
    if (colon != std::string_view::npos) {
      host = authority.substr(0, colon);
      port = authority.substr(colon + 1);
      if (port.empty()) return false;
    }
    if (host.empty()) return false;
    for (char c : host) {
      if (!is_host_char(c)) return false;
    }
  }
  if (port.empty()) return true;
  if (!is_digits(port) || port.size() > 5) return false;
  int number = std::atoi(std::string(port).c_str());
  return number >= 1 && number <= 65535;
}

// Visible ASCII only: the key goes into a request header as it is.
bool valid_api_key(std::string_view key) {
  for (char c : key) {
    if (c < 0x21 || c > 0x7e) return false;
  }
  return true;
}

// The number of seconds in RUVO_MODEL_TIMEOUT_S, or nothing.
std::optional<std::chrono::milliseconds> timeout_from(std::string_view text) {
  std::string value(common::trim_unicode_space(text));
  if (value.empty()) return std::nullopt;
  char* end = nullptr;
  double seconds = std::strtod(value.c_str(), &end);
  if (end != value.c_str() + value.size() || !std::isfinite(seconds) || seconds <= 0) return std::nullopt;
  auto limit = std::chrono::duration<double>(kDefaultAnswerBound).count();
  if (seconds > limit) return std::nullopt;
  auto ms = static_cast<long long>(std::ceil(seconds * 1000));
  return std::chrono::milliseconds(ms);
}

// One configuration item: its value and where it came from, for messages.
struct Item {
  std::string value;
  std::string origin;  // "model.json 的 baseUrl", "RUVO_MODEL_BASE_URL"
};

// Reads a string member of model.json; a member of another type is a fault.
void read_file_member(const JsonValue& doc, const char* key, Item& item, std::vector<std::string>& problems) {
  auto it = doc.find(key);
  if (it == doc.end() || it->is_null()) return;
  if (!it->is_string()) {
    problems.push_back(std::string("model.json 的 ") + key + " 必须是字符串");
    return;
  }
  std::string value(common::trim_unicode_space(it->get_ref<const std::string&>()));
  if (!value.empty()) item = Item{value, std::string("model.json 的 ") + key};
}

void read_env(const EnvLookup& env, std::string_view name, Item& item) {
  auto value = env(std::string(name));
  if (!value) return;
  std::string trimmed(common::trim_unicode_space(*value));
  if (!trimmed.empty()) item = Item{trimmed, std::string(name)};
}

// Reads model.json into the items; a fault is listed and leaves the rest.
void read_file(const std::string& text, Item& base, Item& model, Item& key, bool& json_mode,
               std::vector<std::string>& problems) {
  auto parsed = common::parse_json(text);
  if (!parsed) {
    // The parser's own text may quote what it last read, which can be the
    // key: only the position is shown.
    const std::string& said = parsed.error().text();
    std::string where = said.substr(0, said.find(':'));
    problems.push_back("model.json 不是有效的 JSON（" + where + "）");
    return;
  }
  if (!parsed->is_object()) {
    problems.push_back("model.json 必须是 JSON 对象");
    return;
  }
  const JsonValue& doc = *parsed;
  read_file_member(doc, "baseUrl", base, problems);
  read_file_member(doc, "model", model, problems);
  read_file_member(doc, "apiKey", key, problems);
  if (auto it = doc.find("jsonMode"); it != doc.end() && !it->is_null()) {
    if (it->is_boolean()) {
      json_mode = it->get<bool>();
    } else {
      problems.push_back("model.json 的 jsonMode 必须是 true 或 false");
    }
  }
}

}  // namespace

std::optional<BaseUrl> split_base_url(std::string_view url) {
  url = common::trim_unicode_space(url);
  while (!url.empty() && url.back() == '/') url.remove_suffix(1);
  for (char c : url) {
    if (c < 0x21 || c > 0x7e || c == '?' || c == '#' || c == '@' || c == '\\') return std::nullopt;
  }
  std::string scheme;
  if (starts_with_ignoring_case(url, "https://")) {
    scheme = "https";
  } else if (starts_with_ignoring_case(url, "http://")) {
    scheme = "http";
  } else {
    return std::nullopt;
  }
  std::string_view rest = url.substr(scheme.size() + 3);
  auto slash = rest.find('/');
  std::string_view authority = rest.substr(0, slash);
  if (!valid_authority(authority)) return std::nullopt;
  BaseUrl out;
  out.scheme_host_port = scheme + "://" + std::string(authority);
  if (slash != std::string_view::npos) out.path = std::string(rest.substr(slash));
  return out;
}

ModelSetup read_model_setup(const std::optional<std::string>& file_text, const EnvLookup& env) {
  ModelSetup setup;
  Item base, model, key;
  bool json_mode = true;
  if (file_text) read_file(*file_text, base, model, key, json_mode, setup.problems);
  read_env(env, kModelBaseUrlVariable, base);
  read_env(env, kModelNameVariable, model);
  read_env(env, kModelApiKeyVariable, key);

  ModelBounds bounds;
  if (auto text = env(std::string(kModelTimeoutVariable))) {
    if (auto answer = timeout_from(*text)) {
      bounds.answer = *answer;
      bounds.connect = std::min(bounds.connect, *answer);
    } else if (!common::is_blank(*text)) {
      setup.problems.push_back(std::string(kModelTimeoutVariable) + " 必须是大于 0、不超过 80 的秒数，已按 80 秒算");
    }
  }

  bool usable = true;
  auto split = split_base_url(base.value);
  if (!base.value.empty() && !split) {
    setup.problems.push_back(base.origin + " 不是可用的模型地址：须以 http:// 或 https:// 开头，"
                             "不带用户名、查询串或片段");
    usable = false;
  }
  if (!key.value.empty() && !valid_api_key(key.value)) {
    setup.problems.push_back(key.origin + " 只能由可见的 ASCII 字符组成");
    usable = false;
  }
  if (base.value.empty() && model.value.empty()) return setup;  // no model wanted
  if (model.value.empty()) {
    setup.problems.push_back("有模型地址，但没有模型名：请在 model.json 里填 model，或设置 " +
                             std::string(kModelNameVariable));
    return setup;
  }
  if (base.value.empty()) {
    setup.problems.push_back("有模型名，但没有模型地址：请在 model.json 里填 baseUrl，或设置 " +
                             std::string(kModelBaseUrlVariable));
    return setup;
  }
  if (!usable) return setup;
  setup.config = ModelConfig{split->scheme_host_port + split->path, model.value, key.value, json_mode, bounds};
  return setup;
}

ModelSetup load_model_setup(const std::string& folder, const LogSink& log) {
  std::string path = platform::join_path(folder, kModelFileName);
  // The file says where explanations come from and which key goes there:
  // one that someone else owns or may write is not used at all, and is left
  // as it is for its owner to check.
  std::optional<std::string> text;
  auto read = platform::read_owned_file(path);
  if (!read) {
    log("model.json not used: " + read.error().text());
  } else if (const auto& file = *read; file) {
    if (file->readable_by_others && !file->made_private) {
      log("model.json may be read by others and could not be made private: " + file->made_private.error().text());
    } else if (file->readable_by_others) {
      log("model.json could be read by others; it is owner-only now");
    }
    text = file->content;
  }
  ModelSetup setup = read_model_setup(text, [](const std::string& name) { return platform::get_env(name); });
  if (!read) {
    setup.problems.insert(setup.problems.begin(),
                          "model.json 未被采用：它不属于运行本服务的用户、可被他人改写或无法读取（原因见服务日志）");
  }
  for (const auto& problem : setup.problems) log("model configuration: " + problem);
  if (setup.config) {
    log("model: " + setup.config->model + " at " + setup.config->base_url +
        (setup.config->api_key.empty() ? ", no API key" : ", with an API key") + ", answers within " +
        std::to_string(setup.config->bounds.answer.count()) + " ms");
  } else {
    log("no model configured");
  }
  return setup;
}

JsonValue model_status(const ModelSetup& setup) {
  JsonValue status = JsonValue::object();
  status["configured"] = setup.config.has_value();
  if (setup.config) {
    status["name"] = setup.config->model;
    status["baseUrl"] = setup.config->base_url;
    status["apiKey"] = !setup.config->api_key.empty();
  } else if (!setup.problems.empty()) {
    status["problem"] = setup.problems.front();
  }
  return status;
}

}  // namespace ruvo::desktop::model
