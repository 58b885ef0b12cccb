// The command-line word parsers of lookup, explain and save, on words cut
// from the input at NUL bytes (a NUL can never be inside a real argument),
// made UTF-8 as the process entry makes them. The raw input is also the
// standard input of `explain -`: the text prepared in pieces must equal the
// text prepared whole, which must equal trimming it and cutting it to 2000
// characters. The reply renderers get the input read as JSON.
#include "cli/explain.hpp"
#include "cli/explain_text.hpp"
#include "cli/lookup.hpp"
#include "cli/save.hpp"
#include "common/json.hpp"
#include "common/utf8.hpp"
#include "protocol/requests.hpp"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

using ruvo::common::JsonValue;

std::vector<std::string> split_words(std::string_view input) {
  std::vector<std::string> words;
  std::size_t start = 0;
  for (;;) {
    const std::size_t nul = input.find('\0', start);
    words.push_back(ruvo::common::to_valid_utf8(input.substr(start, nul - start)));
    if (nul == std::string_view::npos) break;
    start = nul + 1;
  }
  return words;
}

bool has_word(const std::vector<std::string>& words, std::string_view word) {
  return std::find(words.begin(), words.end(), word) != words.end();
}

// True when `value` is the word right after some occurrence of `option`.
bool follows(const std::vector<std::string>& words, std::string_view option, const std::string& value) {
  for (std::size_t i = 0; i + 1 < words.size(); ++i) {
    if (words[i] == option && words[i + 1] == value) return true;
  }
  return false;
}

// The compact form reads back as the same value.
void check_round_trip(const JsonValue& body) {
  const auto again = ruvo::common::parse_json(ruvo::common::to_compact(body));
  if (!again || *again != body) __builtin_trap();
}

void check_lookup(const std::vector<std::string>& words) {
  const auto options = ruvo::cli::parse_lookup_words(words);
  if (options.json != has_word(words, "--json")) __builtin_trap();
  std::optional<std::string> term;
  for (const auto& word : words) {
    if (!word.starts_with("--")) {
      term = word;
      break;
    }
  }
  if (options.term != term) __builtin_trap();
  if (options.term) check_round_trip(ruvo::protocol::lookup_body(*options.term));
}

void check_explain(const std::vector<std::string>& words) {
  const auto options = ruvo::cli::parse_explain_words(words);
  if (options.text && !has_word(words, *options.text)) __builtin_trap();
  if (options.mode != "auto" && !follows(words, "--mode", options.mode)) __builtin_trap();
  if (options.lang != "zh" && !follows(words, "--lang", options.lang)) __builtin_trap();
  if (options.json && !has_word(words, "--json")) __builtin_trap();
  if (options.no_cloud && !has_word(words, "--no-cloud")) __builtin_trap();
  if (!has_word(words, "--mode") && !has_word(words, "--lang")) {
    // With no option that takes a value, every word stands for itself.
    if (options.json != has_word(words, "--json")) __builtin_trap();
    if (options.no_cloud != has_word(words, "--no-cloud")) __builtin_trap();
    if (has_word(words, "-") && options.text != "-") __builtin_trap();
  }
  const std::string text = options.text ? ruvo::cli::prepare_explain_text(*options.text) : "";
  check_round_trip(ruvo::protocol::explain_body(ruvo::cli::explain_query(options, text)));
}

void check_save(const std::vector<std::string>& words) {
  const auto options = ruvo::cli::parse_save_words(words);
  if (!options.term.empty() && !follows(words, "--term", options.term)) __builtin_trap();
  if (!has_word(words, "--term") && !options.term.empty()) __builtin_trap();
  if (options.lang != "zh" && !follows(words, "--lang", options.lang)) __builtin_trap();
  if (options.fields != JsonValue::object()) {
    bool from_a_word = false;
    for (std::size_t i = 0; i + 1 < words.size() && !from_a_word; ++i) {
      if (words[i] != "--fields") continue;
      const auto parsed = ruvo::common::parse_json(words[i + 1]);
      from_a_word = parsed && *parsed == options.fields;
    }
    if (!from_a_word) __builtin_trap();
  }
  check_round_trip(ruvo::protocol::save_body(ruvo::cli::save_entry(options)));
}

// Prepared whole, prepared in pieces of a size the input picks, and by the
// definition: all three agree.
void check_explain_text(std::string_view input) {
  const std::string whole = ruvo::cli::prepare_explain_text(input);
  ruvo::cli::ExplainTextBuilder builder;
  const std::size_t piece = input.empty() ? 1 : 1 + static_cast<unsigned char>(input.back()) % 5;
  for (std::size_t at = 0; at < input.size(); at += piece) builder.feed(input.substr(at, piece));
  if (builder.finish() != whole) __builtin_trap();

  std::string expected;
  if (ruvo::common::is_valid_utf8(input)) {
    expected = ruvo::common::first_scalars(ruvo::common::trim_unicode_space(input), ruvo::cli::kExplainTextLimit);
  }
  if (whole != expected) __builtin_trap();
}

void check_renderers(std::string_view input) {
  const auto parsed = ruvo::common::parse_json(input);
  if (!parsed) return;
  const JsonValue& reply = *parsed;
  const auto looked_up = ruvo::cli::render_lookup_reply(reply, "查询");
  const std::string lookup = looked_up ? *looked_up : looked_up.error().text();
  if (lookup.empty() || (looked_up && lookup.back() != '\n')) __builtin_trap();
  const auto explain = ruvo::cli::render_explain_reply(reply);
  const auto save = ruvo::cli::render_save_reply(reply, "词");
  // A failure is a message for fail_and_exit; a success is output that ends
  // its last line.
  const std::string explain_text = explain ? *explain : explain.error().text();
  const std::string save_text = save ? *save : save.error().text();
  if (explain && (explain_text.empty() || explain_text.back() != '\n')) __builtin_trap();
  if (save && save_text.back() != '\n') __builtin_trap();
  if (!ruvo::common::is_valid_utf8(lookup + explain_text + save_text)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto words = split_words(input);
  check_lookup(words);
  check_explain(words);
  check_save(words);
  check_explain_text(input);
  check_renderers(input);
  return 0;
}
