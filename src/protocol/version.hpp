// The one version of both programs, set by the build (CMake's project
// version) and reported by help, `ruvo version`, the MCP handshake and the
// local service's health reply; and the version of the service's replies.
#pragma once

#include <string_view>

#ifndef RUVO_VERSION
#error "RUVO_VERSION comes from the build: CMake's project version"
#endif

namespace ruvo::protocol {

inline constexpr std::string_view kVersion = RUVO_VERSION;

// The local service's protocol, which health reports as "protocol": raised
// when a reply changes in a way a client must know about.
inline constexpr int kProtocolVersion = 1;

}  // namespace ruvo::protocol
