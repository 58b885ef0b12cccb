#include "answers/service_status.hpp"

#include "protocol/version.hpp"

#include <string>

namespace ruvo::desktop::answers {

Result<JsonValue> health(Context& ctx) {
  // From memory alone, whatever the store is doing: ruvo asks health before
  // every command, with a short bound, and a busy store must not make it
  // think the service is gone.
  const std::int64_t count = ctx.store.known_count();
  JsonValue reply = JsonValue::object();
  reply["ok"] = true;
  reply["version"] = ctx.version;
  reply["protocol"] = protocol::kProtocolVersion;
  reply["terms"] = count >= 0 ? JsonValue(count) : JsonValue(nullptr);
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
