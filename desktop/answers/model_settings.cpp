#include "answers/model_settings.hpp"

#include "common/utf8.hpp"
#include "model/model.hpp"
#include "platform/files.hpp"
#include "platform/platform.hpp"

#include <chrono>
#include <string>
#include <vector>

namespace ruvo::desktop::answers {

namespace {

using common::ErrorKind;

common::Error bad_input(std::string message) { return common::failure(ErrorKind::kBadInput, std::move(message)); }

// What model.json holds now, when it may be read (an object; else empty).
JsonValue file_members(const std::string& file) {
  if (file.empty()) return JsonValue::object();
  auto read = platform::read_owned_file(file);
  if (!read || !*read) return JsonValue::object();
  auto parsed = common::parse_json((*read)->content);
  if (!parsed || !parsed->is_object()) return JsonValue::object();
  return std::move(parsed).value();
}

std::string string_member(const JsonValue& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return {};
  return std::string(common::trim_unicode_space(it->get_ref<const std::string&>()));
}

std::vector<std::string> overriding_variables() {
  std::vector<std::string> out;
  for (auto name : {model::kModelBaseUrlVariable, model::kModelNameVariable, model::kModelApiKeyVariable}) {
    auto value = platform::get_env(std::string(name));
    if (value && !common::is_blank(*value)) out.emplace_back(name);
  }
  return out;
}

// Settings given in a request body, read as model.json would be: the
// configuration, or kBadInput with the first fault. `keep_key` is the key to
// use when the body gives none.
Result<model::ModelConfig> settings_from(const JsonValue& body, const std::string& keep_key, JsonValue& file) {
  if (!body.is_object()) return bad_input("请求体必须是 JSON 对象");
  for (const char* key : {"baseUrl", "model", "apiKey"}) {
    auto it = body.find(key);
    if (it != body.end() && !it->is_string()) return bad_input(std::string(key) + " 必须是字符串");
  }
  auto mode = body.find("jsonMode");
  if (mode != body.end() && !mode->is_boolean()) return bad_input("jsonMode 必须是 true 或 false");
  if (string_member(body, "baseUrl").empty())
    return bad_input("baseUrl 不能是空的：模型服务的地址，例如 http://127.0.0.1:11434/v1");
  if (string_member(body, "model").empty()) return bad_input("model 不能是空的：模型名，例如 qwen2.5:7b");

  file = JsonValue::object();
  file["baseUrl"] = string_member(body, "baseUrl");
  file["model"] = string_member(body, "model");
  const std::string key = body.contains("apiKey") ? string_member(body, "apiKey") : keep_key;
  if (!key.empty()) file["apiKey"] = key;
  if (mode != body.end()) file["jsonMode"] = mode->get<bool>();
  // The same reading as model.json gets, without the environment: what is
  // refused there is refused here.
  model::ModelSetup setup = model::read_model_setup(common::to_compact(file),
                                                    [](const std::string&) { return std::optional<std::string>(); });
  if (!setup.config) {
    return bad_input(setup.problems.empty() ? "模型设置不可用" : setup.problems.front());
  }
  return *setup.config;
}

}  // namespace

Result<JsonValue> model_settings(Context& ctx) {
  auto in_use = ctx.models.current();
  JsonValue reply = JsonValue::object();
  reply["ok"] = true;
  reply["configured"] = in_use->config.has_value();
  if (in_use->config) {
    reply["baseUrl"] = in_use->config->base_url;
    reply["model"] = in_use->config->model;
    reply["jsonMode"] = in_use->config->json_mode;
    reply["apiKey"] = !in_use->config->api_key.empty();
  } else {
    const JsonValue file = file_members(ctx.models.file());
    reply["baseUrl"] = string_member(file, "baseUrl");
    reply["model"] = string_member(file, "model");
    auto mode = file.find("jsonMode");
    reply["jsonMode"] = mode == file.end() || !mode->is_boolean() || mode->get<bool>();
    reply["apiKey"] = !string_member(file, "apiKey").empty();
  }
  reply["file"] = ctx.models.file();
  if (!in_use->setup.problems.empty()) reply["problem"] = in_use->setup.problems.front();
  if (auto names = overriding_variables(); !names.empty()) reply["overriddenBy"] = names;
  return reply;
}

Result<JsonValue> change_model_settings(Context& ctx, const JsonValue& body) {
  const std::string path = ctx.models.file();
  if (path.empty()) return bad_input("这个服务没有 model.json 的位置");
  const JsonValue current = file_members(path);
  JsonValue file;
  auto checked = settings_from(body, string_member(current, "apiKey"), file);
  if (!checked) return checked.error();
  if (!body.contains("jsonMode")) {
    if (auto mode = current.find("jsonMode"); mode != current.end() && mode->is_boolean()) file["jsonMode"] = *mode;
  }
  if (auto written = platform::write_file_atomically(path, file.dump(2) + "\n"); !written) {
    return common::failure(ErrorKind::kStoreFailure, "没能写入 " + path + "：" + written.error().text());
  }
  ctx.models.reload();
  auto reply = model_settings(ctx);
  if (!reply) return reply;
  (*reply)["saved"] = true;
  if (reply->contains("overriddenBy")) {
    std::string names;
    for (const auto& name : (*reply)["overriddenBy"]) names += (names.empty() ? "" : "、") + name.get<std::string>();
    (*reply)["warning"] = "已写入 model.json，但环境变量 " + names + " 覆盖了其中的设置";
  }
  return reply;
}

Result<JsonValue> try_model(Context& ctx, const JsonValue& body) {
  auto in_use = ctx.models.current();
  model::ModelConfig config;
  if (body.is_object() && (body.contains("baseUrl") || body.contains("model"))) {
    JsonValue file;
    // The key in use goes only where it is used already.
    std::string keep;
    if (in_use->config) {
      auto given = model::split_base_url(string_member(body, "baseUrl"));
      if (given && given->scheme_host_port + given->path == in_use->config->base_url) keep = in_use->config->api_key;
    }
    auto checked = settings_from(body, keep, file);
    if (!checked) return checked.error();
    config = std::move(checked).value();
    if (in_use->config) config.bounds = in_use->config->bounds;
  } else if (in_use->config) {
    config = *in_use->config;
  } else {
    return bad_input("还没有配置模型：先填好模型服务的地址和模型名");
  }
  model::ModelRequest question{"API", "zh", true, ""};
  const auto started = std::chrono::steady_clock::now();
  auto answer = model::ask(config, question, ctx.models.log());
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
  if (!answer) return answer.error();
  JsonValue reply = JsonValue::object();
  reply["ok"] = true;
  reply["ms"] = ms;
  std::string said;
  for (const char* key : {"definition", "plain", "example"}) {
    if (said.empty()) said = string_member(answer->fields, key);
  }
  reply["answer"] = said;
  reply["model"] = answer->model;
  reply["tokens"] = answer->tokens;
  return reply;
}

}  // namespace ruvo::desktop::answers
