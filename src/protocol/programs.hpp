// How ruvo finds and starts the program that runs the local service.
#pragma once

#include <string_view>

namespace ruvo::protocol {

// Looked for beside ruvo, in this order: the desktop application under its
// two names, then our own local service.
inline constexpr std::string_view kServiceProgramNames[] = {"corvanta.exe", "Ruvo.exe", "ruvo-gui.exe"};
// The argument that starts it headless.
inline constexpr std::string_view kServiceArgument = "--service";

}  // namespace ruvo::protocol
