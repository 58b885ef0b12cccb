#include "answers/service_status.hpp"

#include "answers/store_errors.hpp"
#include "protocol/version.hpp"

#include <string>

namespace ruvo::desktop::answers {

Result<JsonValue> health(Context& ctx) {
  auto count = ctx.store.count();
  // A damaged store is news for health to give, not a failure of it: the
  // service still answers, and ruvo must keep finding it.
  if (!count && !ctx.store.damaged()) return store_failure(count.error());
  JsonValue reply = JsonValue::object();
  reply["ok"] = true;
  reply["version"] = ctx.version;
  reply["protocol"] = protocol::kProtocolVersion;
  reply["terms"] = count ? JsonValue(*count) : JsonValue(nullptr);
  // The dictionaries apart: "terms" counts the person's, the glossary's and the model's entries.
  if (auto dictionaries = ctx.store.dictionary_counts()) {
    reply["dictionaries"] = JsonValue{{"count", dictionaries->count}, {"entries", dictionaries->entries}};
  }
  reply["model"] = ctx.model_status;
  if (ctx.store.damaged()) reply["store"] = damaged_store_status(ctx.store.damage_detail());
  return reply;
}

JsonValue damaged_store_status(std::string_view detail) {
  return JsonValue{{"ok", false},
                   {"message", "词库文件已损坏（SQLite：" + std::string(detail) +
                                   "）：查词尽量照常回答，保存已暂停；请停掉 ruvo-gui.exe，再从备份恢复 " +
                                   std::string(store::kStoreFileName)}};
}

}  // namespace ruvo::desktop::answers
