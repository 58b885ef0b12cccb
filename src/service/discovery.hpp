// The discovery file that the desktop application writes: where its local
// service listens and which token it wants.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ruvo::service {

struct ServiceInfo {
  std::uint16_t port = 0;  // 1 to 65535
  std::string token;       // at least 16 bytes, sent as X-Ruvo-Token
  std::string version;     // possibly empty; carried along, not acted on
};

inline constexpr std::size_t kMinTokenBytes = 16;

// Validates the text of a discovery file; nothing when it is not one JSON
// object with a usable "port" and "token".
std::optional<ServiceInfo> parse_service_info(std::string_view text);

// <application-data folder>/com.corvanta.desktop/explain.json, or nothing
// when there is no application-data folder.
std::optional<std::string> discovery_file_path();

// Reads and validates the discovery file afresh; nothing when it is missing,
// unreadable, not UTF-8 or not valid. Never reports why.
std::optional<ServiceInfo> read_service_info();

}  // namespace ruvo::service
