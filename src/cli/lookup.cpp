#include "cli/lookup.hpp"

#include "cli/render.hpp"

namespace ruvo::cli {

LookupOptions parse_lookup_words(const Words& words) {
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

Rendered render_lookup_reply(const JsonValue& reply, std::string_view query) {
  std::string out;
  if (!is_true_member(reply, "hit")) {
    // Printed as a miss, a failure would tell a person that a stored term is
    // absent and tell a script that all went well.
    if (is_false_member(reply, "ok")) {
      const auto message = shown_field(reply, "message");
      return common::failure(std::string(message.value_or(kLookupFailed)));
    }
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

Outcome run_lookup(const Words& words, client::Client& client, Hints hints) {
  const LookupOptions options = parse_lookup_words(words);
  if (!options.term) return fail_and_exit(kLookupUsage);

  const auto info = client.ensure_service();
  if (!info) return fail_and_exit(kServiceDownMessage);

  const auto reply = client.lookup(*info, *options.term);
  if (!reply) return fail_and_exit(reply.error().text());

  if (options.json) return print_pretty_json(*reply);
  auto rendered = render_lookup_reply(*reply, *options.term);
  Outcome outcome = rendered ? print_text(std::move(rendered).value()) : fail_and_exit(rendered.error().text());
  if (hints == Hints::kShown) outcome.note = lookup_hint(*reply);
  return outcome;
}

}  // namespace ruvo::cli
