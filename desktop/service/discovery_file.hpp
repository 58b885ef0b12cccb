// The discovery file explain.json, through which ruvo finds the service.
#pragma once

#include "common/result.hpp"

#include <string>
#include <string_view>

namespace ruvo::desktop::service {

// Writes the discovery file (protocol::discovery_content) atomically, a
// temporary file renamed over it, and readable by the owner only, so a reader
// never sees half a file and no other user learns the token. It names this
// process, so that a file left behind by a service that died cannot vouch
// for whatever listens on its port next.
common::Result<void> write_discovery_file(const std::string& path, int port, std::string_view token,
                                          std::string_view version);

// Removes the discovery file if it still carries `token`, leaving a file that
// another instance has written since. True when the file was ours and is
// gone.
bool remove_own_discovery_file(const std::string& path, std::string_view token);

}  // namespace ruvo::desktop::service
