// The discovery file: where the local service writes its port and token, and
// what makes its content usable. Names and format only; reading and writing
// the file is each program's own business.
#pragma once

#include "common/result.hpp"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ruvo::protocol {

// The application's folder under the application-data folder, and the
// discovery file in it.
inline constexpr std::string_view kDataFolderName = "com.corvanta.desktop";
inline constexpr std::string_view kDiscoveryFileName = "explain.json";

inline constexpr std::size_t kMinTokenBytes = 16;

struct ServiceInfo {
  std::uint16_t port = 0;  // 1 to 65535
  std::string token;       // at least kMinTokenBytes, sent as X-Ruvo-Token
  std::string version;     // possibly empty; carried along, not acted on
  // The process id of the service that wrote the file, when it said one:
  // lets a reader tell the service's socket from another program's on the
  // same port. The vendor's application writes none.
  std::optional<std::uint32_t> pid;
};

// Validates the text of a discovery file: valid UTF-8, one JSON object with
// "port" a plain integer from 1 to 65535 and "token" a string of at least
// kMinTokenBytes; "version" is taken when it is a string, "pid" when it is a
// plain integer from 1 to 2^32 - 1. Any other "pid" counts as none: it is
// never a reason to refuse the file, whose other members readers ignore.
common::Result<ServiceInfo> parse_service_info(std::string_view text);

// {"port":…,"token":"…","version":"…"} in the compact form.
std::string discovery_content(int port, std::string_view token, std::string_view version);

// The same with the writer's process id: {"pid":…,"port":…,…}, the other
// members as above.
std::string discovery_content(int port, std::string_view token, std::string_view version, std::uint32_t pid);

}  // namespace ruvo::protocol
