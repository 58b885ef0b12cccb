#include "answers/entry_json.hpp"

#include "common/utf8.hpp"
#include "protocol/fields.hpp"
#include "store/term_file.hpp"

#include <string>

namespace ruvo::desktop::answers {

namespace {

JsonValue listed_fields(const JsonValue& fields) {
  JsonValue out = JsonValue::object();
  for (const auto& [key, value] : fields.items()) {
    if (!value.is_string()) {
      out[key] = value;
      continue;
    }
    const std::string& text = value.get_ref<const std::string&>();
    const std::string_view head = common::first_scalars(text, kListedFieldChars);
    out[key] = head.size() < text.size() ? std::string(head) + "…" : text;
  }
  return out;
}

}  // namespace

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

JsonValue term_json(const store::TermEntry& entry, bool listing) {
  JsonValue out{{"id", entry.id},
                {"term", entry.term},
                {"lang", entry.lang},
                {"fields", listing ? listed_fields(entry.fields) : entry.fields},
                {"aliases", entry.aliases},
                {"source", entry.source},
                {"updatedAt", store::utc_timestamp(entry.updated_at)}};
  if (entry.dictionary_id != 0) {
    out["dictionary"] = dictionary_ref(entry);
    out["seeAlso"] = entry.see_also;
  }
  return out;
}

JsonValue dictionary_ref(const store::TermEntry& entry) {
  return JsonValue{{"id", std::to_string(entry.dictionary_id)}, {"name", entry.dictionary_name}};
}

JsonValue entry_item(const store::TermEntry& entry) {
  JsonValue out{{"id", entry.id},           {"term", entry.term},       {"lang", entry.lang},
                {"fields", entry.fields},   {"aliases", entry.aliases}, {"origin", entry.source},
                {"seeAlso", entry.see_also}};
  if (auto phonetic = entry.fields.find("phonetic"); phonetic != entry.fields.end()) out["phonetic"] = *phonetic;
  if (entry.dictionary_id != 0) out["dictionary"] = dictionary_ref(entry);
  return out;
}

}  // namespace ruvo::desktop::answers
