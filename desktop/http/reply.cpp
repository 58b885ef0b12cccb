#include "http/reply.hpp"

#include "explain.hpp"

#include "protocol/fields.hpp"

#include <string>

namespace ruvo::desktop {

Reply error_reply(int status, std::string_view kind, std::string_view message) {
  Reply reply{status, JsonValue::object()};
  reply.body["ok"] = false;
  reply.body["kind"] = std::string(kind);
  reply.body["message"] = std::string(message);
  return reply;
}

void put_entry(JsonValue& reply, const TermEntry& entry) {
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

void put_miss(TermStore& store, JsonValue& reply, std::string_view text) {
  auto suggestions = store.suggest(text);
  reply["suggestions"] = suggestions ? JsonValue(*suggestions) : JsonValue::array();
  if (!has_line_break(text) && within_term_length(text)) (void)store.record_miss(text);
}

Reply store_failure(const common::Error& error) {
  return error_reply(500, "store", "词库读写失败：" + error.text());
}

Reply store_damaged_refusal() {
  Reply reply = error_reply(503, "store",
                            "词库文件已损坏，这次没有保存（以免写坏更多内容）；查词仍会尽量回答。"
                            "请停掉 ruvo-gui.exe，再从备份恢复 " + std::string(kStoreFileName));
  reply.body["reason"] = "store_damaged";
  return reply;
}

JsonValue damaged_store_status(std::string_view detail) {
  return JsonValue{{"ok", false},
                   {"message", "词库文件已损坏（SQLite：" + std::string(detail) +
                                   "）：查词尽量照常回答，保存已暂停；请停掉 ruvo-gui.exe，再从备份恢复 " +
                                   std::string(kStoreFileName)}};
}

}  // namespace ruvo::desktop
