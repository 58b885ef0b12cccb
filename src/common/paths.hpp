// Where ruvo and the desktop application keep their files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ruvo::common {

// The desktop application's folder name under the application-data folder.
inline constexpr std::string_view kDesktopFolderName = "com.corvanta.desktop";
inline constexpr std::string_view kDiscoveryFileName = "explain.json";

// Joins two path components with the platform separator, without doubling a
// separator that `base` already ends in.
std::string join_path(std::string_view base, std::string_view name);

// %APPDATA%\com.corvanta.desktop (see platform::app_data_folder for where the
// application-data folder comes from); nothing when there is none.
std::optional<std::string> desktop_data_folder();

}  // namespace ruvo::common
