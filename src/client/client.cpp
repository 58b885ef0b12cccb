#include "client/client.hpp"

#include "client/http.hpp"
#include "client/launcher.hpp"

namespace ruvo::client {

common::Result<JsonValue> Client::health(const ServiceInfo& info) {
  return exchange(info, protocol::kHealthRoute, nullptr);
}

common::Result<JsonValue> Client::lookup(const ServiceInfo& info, std::string_view text) {
  const JsonValue body = protocol::lookup_body(text);
  return exchange(info, protocol::kLookupRoute, &body);
}

common::Result<JsonValue> Client::explain(const ServiceInfo& info, const ExplainQuery& query) {
  const JsonValue body = protocol::explain_body(query);
  return exchange(info, protocol::kExplainRoute, &body);
}

common::Result<JsonValue> Client::save(const ServiceInfo& info, const SaveEntry& entry) {
  const JsonValue body = protocol::save_body(entry);
  return exchange(info, protocol::kSaveRoute, &body);
}

common::Result<ServiceInfo> LocalClient::ensure_service() { return client::ensure_service(); }

common::Result<JsonValue> LocalClient::exchange(const ServiceInfo& info, const protocol::Route& route,
                                                const JsonValue* body) {
  return service_request(info, route, body);
}

common::Result<void> LocalClient::start_service() { return client::start_service(); }

}  // namespace ruvo::client
