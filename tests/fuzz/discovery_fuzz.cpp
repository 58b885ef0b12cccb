// Any discovery-file content: either a usable ServiceInfo within its bounds or nothing.
#include "protocol/service_info.hpp"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto info = ruvo::protocol::parse_service_info(std::string_view(reinterpret_cast<const char*>(data), size));
  if (info && (info->port == 0 || info->token.size() < ruvo::protocol::kMinTokenBytes)) __builtin_trap();
  if (info && info->pid == 0u) __builtin_trap();  // a pid, when taken, names a process
  return 0;
}
