// Whatever bytes the service sends: head/body split, status word, JSON body,
// 401 substitution. The cap is applied while reading, so inputs stay below it.
#include "client/http.hpp"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > ruvo::client::kMaxReplyBytes) return 0;
  const auto reply = ruvo::client::parse_reply(std::string_view(reinterpret_cast<const char*>(data), size));
  if (reply.ok()) {
    (void)ruvo::common::to_compact(*reply);
  } else if (reply.error().text().empty() || reply.error().text().find('\n') != std::string::npos) {
    __builtin_trap();  // an error is always one non-empty line
  }
  return 0;
}
