// The one version of both programs, set by the build (CMake's project
// version) and reported by help, `ruvo version`, the MCP handshake and the
// local service's health reply.
#pragma once

#include <string_view>

#ifndef RUVO_VERSION
#error "RUVO_VERSION comes from the build: CMake's project version"
#endif

namespace ruvo::protocol {

inline constexpr std::string_view kVersion = RUVO_VERSION;

}  // namespace ruvo::protocol
