#include "cli/save.hpp"

#include "common/utf8.hpp"

namespace ruvo::cli {

SaveOptions parse_save_words(const Words& words) {
  SaveOptions options;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    const bool has_value = i + 1 < words.size();
    if (word == "--term") {
      options.term = has_value ? words[++i] : std::string();
    } else if (word == "--fields") {
      if (!has_value) continue;
      auto parsed = common::parse_json(words[++i]);
      if (parsed) {
        options.fields = std::move(parsed).value();
        options.fields_error.clear();
      } else {
        options.fields = JsonValue::object();
        options.fields_error = parsed.error().text();
      }
    } else if (word == "--lang") {
      if (has_value) options.lang = words[++i];
    }
  }
  return options;
}

protocol::SaveEntry save_entry(const SaveOptions& options) {
  return protocol::SaveEntry{options.term, options.fields, options.lang};
}

Rendered render_save_reply(const JsonValue& reply, std::string_view term) {
  if (!is_true_member(reply, "ok")) return common::failure(failure_message(reply, kSaveFailed));
  std::string out = "已存入 Ruvo：";
  out += term;
  out += "（id ";
  out += string_member(reply, "id").value_or("");
  out += "）\n";
  return out;
}

Outcome run_save(const Words& words, client::Client& client) {
  const SaveOptions options = parse_save_words(words);
  if (common::is_blank(options.term)) return fail_and_exit(kSaveUsage);
  // Saving with empty fields and confirming would lose what the person typed;
  // in cmd.exe the help's single-quoted example arrives exactly like this.
  if (!options.fields_error.empty()) return fail_and_exit(std::string(kFieldsNotJson) + options.fields_error);

  const auto info = client.ensure_service();
  if (!info) return fail_and_exit(kServiceDownMessage);

  const auto reply = client.save(*info, save_entry(options));
  if (!reply) return fail_and_exit(reply.error().text());

  auto rendered = render_save_reply(*reply, options.term);
  if (!rendered) return fail_and_exit(rendered.error().text());
  return print_text(std::move(rendered).value());
}

}  // namespace ruvo::cli
