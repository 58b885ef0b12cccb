// The JSON reader with its nesting limit, and both writers on what it accepts:
// never a crash or an exception, and the compact form reads back the same.
#include "common/json.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace {

// Levels of arrays and objects: a scalar has none.
int depth_of(const ruvo::common::JsonValue& value) {
  int deepest = 0;
  if (value.is_structured()) {
    for (const auto& item : value) deepest = std::max(deepest, depth_of(item));
    return deepest + 1;
  }
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto parsed = ruvo::common::parse_json(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!parsed) {
    if (parsed.error().text().rfind("parse error at line ", 0) != 0) __builtin_trap();
    return 0;
  }
  // What the reader accepts stays under the nesting limit.
  if (depth_of(*parsed) >= ruvo::common::kJsonNestingLimit) __builtin_trap();
  const std::string compact = ruvo::common::to_compact(*parsed);
  (void)ruvo::common::to_pretty(*parsed);
  const auto again = ruvo::common::parse_json(compact);
  // NaN cannot come out of the parser, so equality is well defined.
  if (!again || *again != *parsed) __builtin_trap();
  return 0;
}
