#include "answers/passages.hpp"

#include "answers/entry_json.hpp"
#include "answers/explanations.hpp"
#include "common/utf8.hpp"
#include "protocol/fields.hpp"
#include "store/match_key.hpp"

#include <array>

namespace ruvo::desktop::answers {

namespace {

std::size_t characters(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < text.size(); ++count) pos += common::decode_utf8(text, pos).length;
  return count;
}

std::string field(const store::TermEntry& entry, std::string_view key) {
  auto it = entry.fields.find(std::string(key));
  if (it == entry.fields.end() || !it->is_string()) return {};
  return std::string(common::trim_unicode_space(it->get_ref<const std::string&>()));
}

// The text on one line: every run of white space, line breaks included, one
// space.
std::string one_line(std::string_view text) {
  std::string out;
  bool space = false;
  for (std::size_t pos = 0; pos < text.size();) {
    auto step = common::decode_utf8(text, pos);
    if (step.valid && common::is_unicode_space(step.scalar)) {
      space = !out.empty();
    } else {
      if (space) out += ' ';
      space = false;
      out.append(text.substr(pos, step.length));
    }
    pos += step.length;
  }
  return out;
}

// What an entry says first: its definition, else its plain explanation, its
// example, or any other field of its own.
std::string first_words(const store::TermEntry& entry) {
  for (const auto& label : protocol::FIELD_LABELS) {
    if (auto text = field(entry, label.key); !text.empty()) return text;
  }
  for (const auto& [key, value] : entry.fields.items()) {
    if (key != kBasedOnField && value.is_string() && !common::is_blank(value.get_ref<const std::string&>())) {
      return std::string(common::trim_unicode_space(value.get_ref<const std::string&>()));
    }
  }
  return {};
}

// How a line names the term: as stored, after the text's own spelling when
// that is another name of it (an alias, say).
std::string label(const store::TermInText& found) {
  if (store::term_key(found.text) == store::term_key(found.entry.term)) return found.entry.term;
  return found.text + "（" + found.entry.term + "）";
}

}  // namespace

std::string cut_sensibly(std::string_view text, std::size_t most) {
  if (characters(text) <= most || most < 2) return std::string(common::first_scalars(text, most));
  std::string_view head = common::first_scalars(text, most);
  static constexpr std::array<std::string_view, 6> kEnds = {"。", "！", "？", ". ", "! ", "? "};
  std::size_t best = std::string_view::npos;
  for (auto end : kEnds) {
    auto at = head.rfind(end);
    if (at == std::string_view::npos) continue;
    std::size_t after = at + (end.back() == ' ' ? end.size() - 1 : end.size());
    if (best == std::string_view::npos || after > best) best = after;
  }
  if (best != std::string_view::npos && characters(head.substr(0, best)) * 2 >= most) {
    return std::string(head.substr(0, best));
  }
  return std::string(common::first_scalars(text, most - 1)) + "…";
}

JsonValue terms_json(const std::vector<store::TermInText>& terms) {
  JsonValue out = JsonValue::array();
  for (const auto& found : terms) {
    out.push_back(JsonValue{{"term", found.entry.term},
                            {"text", found.text},
                            {"start", found.start},
                            {"end", found.end},
                            {"lang", found.entry.lang},
                            {"fields", found.entry.fields},
                            {"dictionary", found.entry.dictionary_id != 0 ? dictionary_ref(found.entry)
                                                                          : JsonValue(nullptr)},
                            {"origin", found.entry.source}});
  }
  return out;
}

JsonValue answer_from_terms(const std::vector<store::TermInText>& terms, const std::string& title,
                            const std::string& lang) {
  std::string definitions, plains;
  for (const auto& found : terms) {
    std::string said = first_words(found.entry);
    if (said.empty()) said = "（词库里还没有释义）";
    if (!definitions.empty()) definitions += "\n";
    definitions += cut_sensibly(label(found) + "：" + one_line(said), kMostCharsPerLine);
    const std::string plain = field(found.entry, "plain");
    if (plain.empty() || plain == said) continue;
    if (!plains.empty()) plains += "\n";
    plains += cut_sensibly(label(found) + "：" + one_line(plain), kMostCharsPerLine);
  }
  JsonValue reply = JsonValue::object();
  reply["ok"] = true;
  reply["source"] = "local";
  reply["term"] = title;
  reply["lang"] = lang;
  reply["definition"] = definitions;
  JsonValue fields = JsonValue{{"definition", definitions}};
  if (!plains.empty()) {
    reply["plain"] = plains;
    fields["plain"] = plains;
  }
  reply["fields"] = fields;
  reply["tokens"] = 0;
  reply["terms"] = terms_json(terms);
  return reply;
}

model::GroundingEntry grounding_entry(const store::TermEntry& entry) {
  std::string text;
  for (std::string_view key : {"definition", "plain"}) {
    std::string said = field(entry, key);
    if (said.empty()) continue;
    if (!text.empty()) text += " ";
    text += one_line(said);
  }
  if (text.empty()) text = one_line(first_words(entry));
  return model::GroundingEntry{entry.term, entry.lang, cut_sensibly(text, kMostCharsPerEntry)};
}

std::vector<model::GroundingEntry> grounding(const std::vector<store::TermInText>& terms) {
  std::vector<model::GroundingEntry> out;
  std::size_t used = 0;
  for (const auto& found : terms) {
    model::GroundingEntry entry = grounding_entry(found.entry);
    if (entry.text.empty()) continue;
    const std::size_t size = characters(entry.term) + characters(entry.text);
    if (used + size > kMostGroundingChars) break;
    used += size;
    out.push_back(std::move(entry));
  }
  return out;
}

}  // namespace ruvo::desktop::answers
