#include "store/glossary.hpp"

#include "common/json.hpp"
#include "common/utf8.hpp"
#include "protocol/fields.hpp"
#include "store/entry_rules.hpp"
#include "store/glossary_data.hpp"

#include <set>

namespace ruvo::desktop::store {

namespace {

using common::failure;

bool is_text(const JsonValue& object, const char* key) {
  auto it = object.find(key);
  return it != object.end() && it->is_string() && !common::is_blank(it->get_ref<const std::string&>());
}

}  // namespace

std::string_view embedded_glossary() { return kGlossaryJson; }

common::Result<std::vector<TermDraft>> parse_glossary(std::string_view json_text) {
  auto parsed = common::parse_json(json_text);
  if (!parsed) return failure("glossary: " + parsed.error().text());
  const JsonValue& doc = *parsed;
  if (!doc.is_object() || !is_text(doc, "lang") || !is_text(doc, "categoryId")) {
    return failure("glossary: needs \"lang\" and \"categoryId\"");
  }
  auto terms = doc.find("terms");
  if (terms == doc.end() || !terms->is_array()) return failure("glossary: \"terms\" must be an array");

  std::vector<TermDraft> drafts;
  std::set<std::string> keys;
  for (const auto& item : *terms) {
    std::string where = "glossary entry " + std::to_string(drafts.size() + 1);
    if (!item.is_object() || !is_text(item, "term")) return failure(where + ": needs \"term\"");
    TermDraft draft;
    draft.term = std::string(common::trim_unicode_space(item["term"].get_ref<const std::string&>()));
    draft.lang = doc["lang"].get<std::string>();
    draft.category_id = doc["categoryId"].get<std::string>();
    draft.source = std::string(kSourceGlossary);
    if (has_line_break(draft.term) || !within_term_length(draft.term)) {
      return failure(where + ": term too long or on several lines");
    }
    // Only our own file is checked here, at every start: a plain key will do,
    // and the full one would load the Chinese conversion before it is needed.
    if (!keys.insert(common::ascii_lower(draft.term)).second) return failure(where + ": " + draft.term + " given twice");
    for (const auto& field : protocol::FIELD_LABELS) {
      std::string key(field.key);
      if (!is_text(item, key.c_str())) return failure(where + " (" + draft.term + "): needs \"" + key + "\"");
    }
    if (auto aliases = item.find("aliases"); aliases != item.end()) {
      if (!aliases->is_array()) return failure(where + " (" + draft.term + "): \"aliases\" must be an array");
      std::vector<std::string> names;
      for (const auto& alias : *aliases) {
        if (!alias.is_string()) return failure(where + " (" + draft.term + "): an alias must be a string");
        names.push_back(alias.get<std::string>());
      }
      draft.aliases = std::move(names);
    }
    for (const auto& [key, value] : item.items()) {
      if (key == "term" || key == "aliases") continue;
      if (!value.is_string()) return failure(where + " (" + draft.term + "): \"" + key + "\" must be a string");
      draft.fields[key] = value;
    }
    drafts.push_back(std::move(draft));
  }
  return drafts;
}

}  // namespace ruvo::desktop::store
