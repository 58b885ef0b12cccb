// The typed API over the local service that the person's commands and the
// MCP tools share. It never prints and never ends the process: every
// outcome is a value.
#pragma once

#include "client/wait.hpp"
#include "common/json.hpp"
#include "common/result.hpp"
#include "protocol/requests.hpp"
#include "protocol/routes.hpp"
#include "protocol/service_info.hpp"

#include <string_view>

namespace ruvo::client {

using common::JsonValue;
using protocol::ExplainQuery;
using protocol::SaveEntry;
using protocol::ServiceInfo;

// The seam between the callers and the service: LocalClient reaches the real
// one; tests put a scripted one in its place.
class Client {
 public:
  virtual ~Client() = default;

  // A service that has just answered its health probe, started first when
  // needed; an error when none could be brought up. `on_wait` hears of the
  // wait (wait.hpp).
  virtual common::Result<ServiceInfo> ensure_service(const OnWait& on_wait) = 0;
  common::Result<ServiceInfo> ensure_service() { return ensure_service(OnWait{}); }

  // One request on the route with an optional body: the reply's JSON value
  // or a one-line error text. `on_wait` hears kReply while the reply is
  // awaited.
  virtual common::Result<JsonValue> exchange(const ServiceInfo& info, const protocol::Route& route,
                                             const JsonValue* body, const OnWait& on_wait) = 0;

  // Starts a headless service without waiting for it.
  virtual common::Result<void> start_service() = 0;

  // The four requests, each with its body built by the protocol.
  common::Result<JsonValue> health(const ServiceInfo& info);
  common::Result<JsonValue> lookup(const ServiceInfo& info, std::string_view text);
  common::Result<JsonValue> explain(const ServiceInfo& info, const ExplainQuery& query,
                                    const OnWait& on_wait = {});
  common::Result<JsonValue> save(const ServiceInfo& info, const SaveEntry& entry);
};

// The real thing: the discovery file, the launcher and the HTTP exchange.
class LocalClient final : public Client {
 public:
  using Client::ensure_service;
  common::Result<ServiceInfo> ensure_service(const OnWait& on_wait) override;
  common::Result<JsonValue> exchange(const ServiceInfo& info, const protocol::Route& route, const JsonValue* body,
                                     const OnWait& on_wait) override;
  common::Result<void> start_service() override;
};

}  // namespace ruvo::client
