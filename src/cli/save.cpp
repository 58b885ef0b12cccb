#include "cli/save.hpp"

#include "bin/output.hpp"
#include "cli/commands.hpp"
#include "common/utf8.hpp"
#include "platform/platform.hpp"
#include "service/client.hpp"
#include "service/launcher.hpp"

namespace ruvo::cli {

SaveOptions parse_save_words(const std::vector<std::string>& words) {
  SaveOptions options;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    const bool has_value = i + 1 < words.size();
    if (word == "--term") {
      options.term = has_value ? words[++i] : std::string();
    } else if (word == "--fields") {
      if (!has_value) continue;
      // Text that is not one JSON value saves the entry with empty fields
      // rather than failing.
      auto parsed = common::parse_json(words[++i]);
      options.fields = parsed.value ? std::move(*parsed.value) : JsonValue::object();
    } else if (word == "--lang") {
      if (has_value) options.lang = words[++i];
    }
  }
  return options;
}

JsonValue save_request_body(const SaveOptions& options) {
  JsonValue body = JsonValue::object();
  body["categoryId"] = "term";
  body["fields"] = options.fields;
  body["lang"] = options.lang;
  body["term"] = options.term;
  return body;
}

Rendered render_save_reply(const JsonValue& reply, std::string_view term) {
  if (!is_true_member(reply, "ok")) return {false, failure_message(reply, kSaveFailed)};
  std::string out = "已存入 Ruvo：";
  out += term;
  out += "（id ";
  out += string_member(reply, "id").value_or("");
  out += "）\n";
  return {true, std::move(out)};
}

int run_save(const std::vector<std::string>& words) {
  const SaveOptions options = parse_save_words(words);
  if (common::is_blank(options.term)) bin::fail_and_exit(kSaveUsage);

  const auto info = service::ensure_service();
  if (!info) bin::fail_and_exit(kServiceDownMessage);

  const JsonValue body = save_request_body(options);
  const auto reply =
      service::service_request(*info, "POST", "/v1/save", &body, service::kSaveTimeoutS);
  if (!reply.ok()) bin::fail_and_exit(reply.error);

  const Rendered rendered = render_save_reply(*reply.value, options.term);
  if (!rendered.ok) bin::fail_and_exit(rendered.text);
  platform::write_stdout(rendered.text);
  return 0;
}

}  // namespace ruvo::cli
