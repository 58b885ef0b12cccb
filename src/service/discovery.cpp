#include "service/discovery.hpp"

#include "common/json.hpp"
#include "common/paths.hpp"
#include "common/utf8.hpp"
#include "platform/platform.hpp"

namespace ruvo::service {

std::optional<ServiceInfo> parse_service_info(std::string_view text) {
  if (!common::is_valid_utf8(text)) return std::nullopt;
  auto parsed = common::parse_json(text);
  if (!parsed.value || !parsed.value->is_object()) return std::nullopt;
  const common::JsonValue& doc = *parsed.value;

  // Only a plain non-negative integer qualifies: 80.0, 8e1 and -1 parse as
  // other number kinds and are refused.
  const auto port = doc.find("port");
  if (port == doc.end() || !port->is_number_unsigned()) return std::nullopt;
  const auto port_value = port->get<std::uint64_t>();
  if (port_value < 1 || port_value > 65535) return std::nullopt;

  const auto token = doc.find("token");
  if (token == doc.end() || !token->is_string()) return std::nullopt;
  const auto& token_text = token->get_ref<const std::string&>();
  if (token_text.size() < kMinTokenBytes) return std::nullopt;

  ServiceInfo info;
  info.port = static_cast<std::uint16_t>(port_value);
  info.token = token_text;
  if (const auto version = doc.find("version"); version != doc.end() && version->is_string()) {
    info.version = version->get<std::string>();
  }
  return info;
}

std::optional<std::string> discovery_file_path() {
  const auto folder = common::desktop_data_folder();
  if (!folder) return std::nullopt;
  return common::join_path(*folder, common::kDiscoveryFileName);
}

std::optional<ServiceInfo> read_service_info() {
  const auto path = discovery_file_path();
  if (!path) return std::nullopt;
  const auto text = platform::read_file(*path);
  if (!text) return std::nullopt;
  return parse_service_info(*text);
}

}  // namespace ruvo::service
