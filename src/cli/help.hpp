// `ruvo help` and `ruvo version`.
#pragma once

#include "cli/outcome.hpp"
#include "protocol/version.hpp"

#include <string_view>

namespace ruvo::cli {

extern const std::string_view HELP_TEXT;
inline constexpr std::string_view kVersionLine = "ruvo " RUVO_VERSION "\n";

// The help text on standard output; the words are ignored.
Outcome print_help(const Words& words);
// The version line on standard output; the words are ignored.
Outcome print_version(const Words& words);

}  // namespace ruvo::cli
