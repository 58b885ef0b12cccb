#include "cli/explain.hpp"

#include "cli/explain_text.hpp"

namespace ruvo::cli {

ExplainOptions parse_explain_words(const Words& words) {
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

protocol::ExplainQuery explain_query(const ExplainOptions& options, std::string prepared_text) {
  return protocol::ExplainQuery{std::move(prepared_text), options.mode, options.lang, !options.no_cloud};
}

Rendered render_explain_reply(const JsonValue& reply) {
  if (!is_true_member(reply, "ok")) return common::failure(failure_message(reply, kExplainFailed));
  std::string out;
  out += string_member(reply, "term").value_or("");
  out += "（";
  out += string_member(reply, "source").value_or("");
  out += "）\n";
  out += render_fields(reply, FieldLayout::kSpaced);
  return out;
}

Outcome run_explain(const Words& words, client::Client& client, const platform::ReadFunction& input,
                    const WaitDisplay& display, Hints hints) {
  const ExplainOptions options = parse_explain_words(words);

  // Standard input is read, and the usage checked, before the service is
  // contacted: an empty text never starts the service program.
  std::string text;
  if (options.text == "-") {
    text = read_explain_text(input);
  } else if (options.text) {
    text = prepare_explain_text(*options.text);
  }
  if (text.empty()) return fail_and_exit(kExplainUsage);

  // A model's answer can take over a minute; a person should see that ruvo
  // is at work. The line is gone before the outcome is written.
  WaitLine wait_line(display);
  const auto info = client.ensure_service(wait_line.listener());
  if (!info) return fail_and_exit(kServiceDownMessage);

  const auto reply = client.explain(*info, explain_query(options, std::move(text)), wait_line.listener());
  wait_line.erase();
  if (!reply) return fail_and_exit(reply.error().text());

  if (options.json) return print_pretty_json(*reply);
  auto rendered = render_explain_reply(*reply);
  Outcome outcome = rendered ? print_text(std::move(rendered).value()) : fail_and_exit(rendered.error().text());
  if (hints == Hints::kShown) outcome.note = explain_hint(*reply);
  return outcome;
}

}  // namespace ruvo::cli
