// The discovery file explain.json, through which ruvo finds the service.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ruvo::desktop {

// {"port":…,"token":"…","version":"…"} in the compact form.
std::string discovery_content(int port, std::string_view token, std::string_view version);

// Writes the discovery file atomically (a temporary file renamed over it) and
// readable by the owner only, so a reader never sees half a file and no other
// user learns the token. Returns an error text on failure.
std::optional<std::string> write_discovery_file(const std::string& path, int port, std::string_view token,
                                                std::string_view version);

// Removes the discovery file if it still carries `token`, leaving a file that
// another instance has written since. True when the file was ours and is
// gone.
bool remove_own_discovery_file(const std::string& path, std::string_view token);

}  // namespace ruvo::desktop
