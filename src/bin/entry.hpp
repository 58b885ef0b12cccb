// The process entry of ruvo: dispatch on the first word.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ruvo::bin {

extern const std::string_view HELP_TEXT;
inline constexpr std::string_view kVersionLine = "ruvo 0.1.8\n";

// Runs the command named by the first word and returns the exit code (some
// commands end the process themselves through fail_and_exit).
int run_ruvo(const std::vector<std::string>& words);

// `ruvo health`: the words are ignored.
int run_health(const std::vector<std::string>& words);

}  // namespace ruvo::bin
