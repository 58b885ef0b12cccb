// A client with scripted answers that records what it is asked, so the
// person's commands and the MCP tools run in-process, without a service.
#pragma once

#include "client/client.hpp"
#include "common/json.hpp"
#include "common/result.hpp"

#include <map>
#include <string>
#include <vector>

namespace ruvo::test {

class ScriptedClient : public client::Client {
 public:
  // The service that ensure_service yields while `service_up`.
  static protocol::ServiceInfo service_info();

  bool service_up = true;
  // The answer to every exchange, unless `replies` has one for its path.
  common::Result<common::JsonValue> reply = common::JsonValue{{"ok", true}};
  std::map<std::string, common::Result<common::JsonValue>> replies;
  common::Result<void> start_result;

  int ensure_calls = 0;
  int start_calls = 0;
  // One line per exchange: "METHOD path body timeout", the body compact or
  // "-" when there is none.
  std::vector<std::string> requests;

  // Each exchange and each ensure_service first tells `on_wait` this many
  // times of its wait (kService, kReply), as a slow service would.
  int waits = 0;

  using client::Client::ensure_service;
  common::Result<protocol::ServiceInfo> ensure_service(const client::OnWait& on_wait) override;
  common::Result<common::JsonValue> exchange(const protocol::ServiceInfo& info, const protocol::Route& route,
                                             const common::JsonValue* body, const client::OnWait& on_wait) override;
  common::Result<void> start_service() override;
};

}  // namespace ruvo::test
