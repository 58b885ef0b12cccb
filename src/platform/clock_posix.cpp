// POSIX implementation of clock.hpp.
#include "platform/clock.hpp"

#include <ctime>

namespace ruvo::platform {

std::int64_t unix_seconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::string local_timestamp() {
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  ::localtime_r(&now, &parts);
  char text[32];
  std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &parts);
  return std::string(text, n);
}

}  // namespace ruvo::platform
