#include "cli/lookup.hpp"

#include "bin/output.hpp"
#include "cli/commands.hpp"
#include "cli/render.hpp"
#include "platform/platform.hpp"
#include "service/client.hpp"
#include "service/launcher.hpp"

namespace ruvo::cli {

LookupOptions parse_lookup_words(const std::vector<std::string>& words) {
  LookupOptions options;
  for (const std::string& word : words) {
    if (word == "--json") {
      options.json = true;
    } else if (!word.starts_with("--") && !options.term) {
      options.term = word;
    }
  }
  return options;
}

JsonValue lookup_request_body(const std::string& term) {
  JsonValue body = JsonValue::object();
  body["text"] = term;
  return body;
}

std::string render_lookup_reply(const JsonValue& reply, std::string_view query) {
  std::string out;
  if (!is_true_member(reply, "hit")) {
    out += "词库里没有「";
    out += query;
    out += "」\n";
    return out;
  }
  out += string_member(reply, "term").value_or(query);
  out += '\n';
  out += render_fields(reply, FieldLayout::kTight);
  return out;
}

int run_lookup(const std::vector<std::string>& words) {
  const LookupOptions options = parse_lookup_words(words);
  if (!options.term) bin::fail_and_exit(kLookupUsage);

  const auto info = service::ensure_service();
  if (!info) bin::fail_and_exit(kServiceDownMessage);

  const JsonValue body = lookup_request_body(*options.term);
  const auto reply =
      service::service_request(*info, "POST", "/v1/lookup", &body, service::kLookupTimeoutS);
  if (!reply.ok()) bin::fail_and_exit(reply.error);

  if (options.json) {
    bin::print_pretty_json(*reply.value);
    return 0;
  }
  platform::write_stdout(render_lookup_reply(*reply.value, *options.term));
  return 0;
}

}  // namespace ruvo::cli
