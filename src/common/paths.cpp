#include "common/paths.hpp"

#include "platform/platform.hpp"

namespace ruvo::common {

std::string join_path(std::string_view base, std::string_view name) {
  std::string joined(base);
  const char sep = platform::path_separator();
  if (!joined.empty() && joined.back() != sep && joined.back() != '/') joined += sep;
  joined += name;
  return joined;
}

std::optional<std::string> desktop_data_folder() {
  const auto root = platform::app_data_folder();
  if (!root) return std::nullopt;
  return join_path(*root, kDesktopFolderName);
}

}  // namespace ruvo::common
