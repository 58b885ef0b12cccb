#include "cli/explain.hpp"

#include "bin/output.hpp"
#include "cli/commands.hpp"
#include "cli/explain_text.hpp"
#include "platform/platform.hpp"
#include "service/client.hpp"
#include "service/launcher.hpp"

namespace ruvo::cli {

ExplainOptions parse_explain_words(const std::vector<std::string>& words) {
  ExplainOptions options;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "-") {
      options.text = word;
    } else if (word == "--mode") {
      if (i + 1 < words.size()) options.mode = words[++i];
    } else if (word == "--lang") {
      if (i + 1 < words.size()) options.lang = words[++i];
    } else if (word == "--json") {
      options.json = true;
    } else if (word == "--no-cloud") {
      options.no_cloud = true;
    } else if (!options.text) {
      options.text = word;
    }
  }
  return options;
}

JsonValue explain_request_body(const ExplainOptions& options, const std::string& prepared_text) {
  JsonValue body = JsonValue::object();
  body["allowCloud"] = !options.no_cloud;
  body["context"] = "";
  body["lang"] = options.lang;
  body["mode"] = options.mode;
  body["text"] = prepared_text;
  return body;
}

Rendered render_explain_reply(const JsonValue& reply) {
  if (!is_true_member(reply, "ok")) return {false, failure_message(reply, kExplainFailed)};
  std::string out;
  out += string_member(reply, "term").value_or("");
  out += "（";
  out += string_member(reply, "source").value_or("");
  out += "）\n";
  out += render_fields(reply, FieldLayout::kSpaced);
  return {true, std::move(out)};
}

int run_explain(const std::vector<std::string>& words) {
  const ExplainOptions options = parse_explain_words(words);

  // Standard input is read, and the usage checked, before the service is
  // contacted: an empty text never starts the desktop application.
  std::string text;
  if (options.text == "-") {
    text = read_explain_stdin();
  } else if (options.text) {
    text = prepare_explain_text(*options.text);
  }
  if (text.empty()) bin::fail_and_exit(kExplainUsage);

  const auto info = service::ensure_service();
  if (!info) bin::fail_and_exit(kServiceDownMessage);

  const JsonValue body = explain_request_body(options, text);
  const auto reply =
      service::service_request(*info, "POST", "/v1/explain", &body, service::kExplainTimeoutS);
  if (!reply.ok()) bin::fail_and_exit(reply.error);

  if (options.json) {
    bin::print_pretty_json(*reply.value);
    return 0;
  }
  const Rendered rendered = render_explain_reply(*reply.value);
  if (!rendered.ok) bin::fail_and_exit(rendered.text);
  platform::write_stdout(rendered.text);
  return 0;
}

}  // namespace ruvo::cli
