#include "support/scripted_client.hpp"

#include <gtest/gtest.h>

namespace ruvo::test {

protocol::ServiceInfo ScriptedClient::service_info() { return {4242, "0123456789abcdef", "t"}; }

common::Result<protocol::ServiceInfo> ScriptedClient::ensure_service(const client::OnWait& on_wait) {
  ++ensure_calls;
  for (int i = 0; on_wait && i < waits; ++i) on_wait(client::Waiting::kService);
  if (!service_up) return common::failure("no service");
  return service_info();
}

common::Result<common::JsonValue> ScriptedClient::exchange(const protocol::ServiceInfo& info,
                                                           const protocol::Route& route,
                                                           const common::JsonValue* body,
                                                           const client::OnWait& on_wait) {
  for (int i = 0; on_wait && i < waits; ++i) on_wait(client::Waiting::kReply);
  EXPECT_EQ(info.port, service_info().port) << "a request to a service ensure_service did not give";
  requests.push_back(std::string(route.method) + " " + std::string(route.path) + " " +
                     (body != nullptr ? common::to_compact(*body) : "-") + " " +
                     std::to_string(route.read_timeout_s));
  const auto scripted = replies.find(std::string(route.path));
  return scripted != replies.end() ? scripted->second : reply;
}

common::Result<void> ScriptedClient::start_service() {
  ++start_calls;
  return start_result;
}

}  // namespace ruvo::test
