#include "answers/entry_json.hpp"

#include "common/utf8.hpp"
#include "protocol/fields.hpp"
#include "store/term_file.hpp"

#include <string>

namespace ruvo::desktop::answers {

void put_entry(JsonValue& reply, const store::TermEntry& entry) {
  reply["id"] = entry.id;
  reply["term"] = entry.term;
  reply["lang"] = entry.lang;
  reply["categoryId"] = entry.category_id;
  for (const auto& field : protocol::FIELD_LABELS) {
    auto it = entry.fields.find(std::string(field.key));
    if (it != entry.fields.end()) reply[std::string(field.key)] = *it;
  }
  reply["fields"] = entry.fields;
  reply["origin"] = entry.source;
  reply["aliases"] = entry.aliases;
}

JsonValue term_json(const store::TermEntry& entry) {
  return JsonValue{{"id", entry.id},
                   {"term", entry.term},
                   {"lang", entry.lang},
                   {"fields", entry.fields},
                   {"aliases", entry.aliases},
                   {"source", entry.source},
                   {"updatedAt", store::utc_timestamp(entry.updated_at)}};
}

JsonValue listed_term_json(const store::TermEntry& entry) {
  JsonValue listed = term_json(entry);
  for (auto& [name, value] : listed["fields"].items()) {
    if (!value.is_string()) continue;
    const std::string& text = value.get_ref<const std::string&>();
    std::string_view head = common::first_scalars(text, kListedFieldChars);
    if (head.size() < text.size()) value = std::string(head) + "…";
  }
  return listed;
}

}  // namespace ruvo::desktop::answers
