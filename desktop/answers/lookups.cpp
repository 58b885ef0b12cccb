#include "answers/lookups.hpp"

#include "answers/entry_json.hpp"
#include "answers/hits.hpp"
#include "answers/store_errors.hpp"
#include "common/utf8.hpp"
#include "protocol/fields.hpp"
#include "store/entry_rules.hpp"
#include "store/term_file.hpp"

#include <string>

namespace ruvo::desktop::answers {

Result<JsonValue> lookup(Context& ctx, const JsonValue& body) {
  auto text = body.find(std::string(protocol::kTextKey));
  if (text == body.end() || !text->is_string()) {
    return common::failure(common::ErrorKind::kBadInput, "text 必须是字符串：要查的词");
  }
  JsonValue reply = JsonValue::object();
  reply["ok"] = true;
  reply["hit"] = false;
  const auto& query = text->get_ref<const std::string&>();
  if (common::is_blank(query)) {
    reply["suggestions"] = JsonValue::array();
    return reply;
  }

  // Lookup names no language: a Chinese entry comes first, as the glossary
  // and ruvo's default language are Chinese.
  auto found = ctx.store.find_any(query, protocol::kDefaultLang);
  if (!found) return store_failure(found.error());
  if (const auto& entry = *found) {
    reply["hit"] = true;
    put_hit(ctx.store, reply, *entry, query, protocol::kDefaultLang);
    return reply;
  }
  answer_miss(ctx.store, reply, query);
  return reply;
}

void answer_miss(store::TermStore& store, JsonValue& reply, std::string_view text) {
  auto suggestions = store.suggest(text);
  reply["suggestions"] = suggestions ? JsonValue(*suggestions) : JsonValue::array();
  if (store::has_line_break(text) || !store::within_term_length(text)) return;
  // The count is for the list of misses alone: one that cannot be kept (a
  // damaged store refuses every write) must not cost the answer.
  [[maybe_unused]] const auto counted = store.record_miss(text);
}

Result<JsonValue> misses(Context& ctx) {
  auto found = ctx.store.misses(store::kMaxMisses);
  if (!found) return store_failure(found.error());
  JsonValue list = JsonValue::array();
  for (const auto& miss : *found) {
    list.push_back(
        JsonValue{{"text", miss.text}, {"count", miss.count}, {"lastAt", store::utc_timestamp(miss.last_at)}});
  }
  JsonValue reply = JsonValue::object();
  reply["ok"] = true;
  reply["misses"] = std::move(list);
  return reply;
}

}  // namespace ruvo::desktop::answers
