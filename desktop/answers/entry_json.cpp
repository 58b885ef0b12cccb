#include "answers/entry_json.hpp"

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

}  // namespace ruvo::desktop::answers
