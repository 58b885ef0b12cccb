#include "client/client.hpp"

#include "client/http.hpp"
#include "client/launcher.hpp"

namespace ruvo::client {

common::Result<JsonValue> Client::health(const ServiceInfo& info) {
  return exchange(info, protocol::kHealthRoute, nullptr, {});
}

common::Result<JsonValue> Client::lookup(const ServiceInfo& info, std::string_view text) {
  const JsonValue body = protocol::lookup_body(text);
  return exchange(info, protocol::kLookupRoute, &body, {});
}

common::Result<JsonValue> Client::explain(const ServiceInfo& info, const ExplainQuery& query,
                                          const OnWait& on_wait) {
  const JsonValue body = protocol::explain_body(query);
  return exchange(info, protocol::kExplainRoute, &body, on_wait);
}

common::Result<JsonValue> Client::save(const ServiceInfo& info, const SaveEntry& entry) {
  const JsonValue body = protocol::save_body(entry);
  return exchange(info, protocol::kSaveRoute, &body, {});
}

common::Result<ServiceInfo> LocalClient::ensure_service(const OnWait& on_wait) {
  return client::ensure_service(on_wait);
}

common::Result<JsonValue> LocalClient::exchange(const ServiceInfo& info, const protocol::Route& route,
                                                const JsonValue* body, const OnWait& on_wait) {
  if (!on_wait) return service_request(info, route, body);
  return service_request(info, route, body, [&on_wait] { on_wait(Waiting::kReply); });
}

common::Result<void> LocalClient::start_service() { return client::start_service(); }

}  // namespace ruvo::client
