// Path joining, the same on every system but for the separator.
#include "platform/platform.hpp"

namespace ruvo::platform {

std::string join_path(std::string_view base, std::string_view name) {
  std::string joined(base);
  const char sep = path_separator();
  if (!joined.empty() && joined.back() != sep && joined.back() != '/') joined += sep;
  joined += name;
  return joined;
}

}  // namespace ruvo::platform
