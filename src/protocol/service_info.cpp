#include "protocol/service_info.hpp"

#include "common/json.hpp"
#include "common/utf8.hpp"

#include <cstdint>

namespace ruvo::protocol {

using common::failure;

common::Result<ServiceInfo> parse_service_info(std::string_view text) {
  if (!common::is_valid_utf8(text)) return failure("the discovery file is not UTF-8");
  auto parsed = common::parse_json(text);
  if (!parsed) return parsed.error();
  const common::JsonValue& doc = *parsed;
  if (!doc.is_object()) return failure("the discovery file is not a JSON object");

  // Only a plain non-negative integer qualifies: 80.0, 8e1 and -1 parse as
  // other number kinds and are refused.
  const auto port = doc.find("port");
  if (port == doc.end() || !port->is_number_unsigned()) return failure("no usable port");
  const auto port_value = port->get<std::uint64_t>();
  if (port_value < 1 || port_value > 65535) return failure("no usable port");

  const auto token = doc.find("token");
  if (token == doc.end() || !token->is_string()) return failure("no usable token");
  const auto& token_text = token->get_ref<const std::string&>();
  if (token_text.size() < kMinTokenBytes) return failure("no usable token");

  ServiceInfo info;
  info.port = static_cast<std::uint16_t>(port_value);
  info.token = token_text;
  if (const auto version = doc.find("version"); version != doc.end() && version->is_string()) {
    info.version = version->get<std::string>();
  }
  // As for the port, only a plain integer qualifies; 0 names no process.
  if (const auto pid = doc.find("pid"); pid != doc.end() && pid->is_number_unsigned()) {
    const auto pid_value = pid->get<std::uint64_t>();
    if (pid_value >= 1 && pid_value <= UINT32_MAX) info.pid = static_cast<std::uint32_t>(pid_value);
  }
  return info;
}

namespace {

common::JsonValue content_of(int port, std::string_view token, std::string_view version) {
  common::JsonValue value = common::JsonValue::object();
  value["port"] = port;
  value["token"] = std::string(token);
  value["version"] = std::string(version);
  return value;
}

}  // namespace

std::string discovery_content(int port, std::string_view token, std::string_view version) {
  return common::to_compact(content_of(port, token, version));
}

std::string discovery_content(int port, std::string_view token, std::string_view version, std::uint32_t pid) {
  common::JsonValue value = content_of(port, token, version);
  value["pid"] = pid;
  return common::to_compact(value);
}

}  // namespace ruvo::protocol
