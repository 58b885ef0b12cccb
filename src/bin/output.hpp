// The two ways a command of the command line ends or shows a value.
#pragma once

#include "common/json.hpp"

#include <string_view>

namespace ruvo::bin {

// Writes the message and a line feed to standard error and ends the process
// with exit code 1. The message carries no line feed of its own.
[[noreturn]] void fail_and_exit(std::string_view message);

// Writes the value in the pretty form and a line feed to standard output.
void print_pretty_json(const common::JsonValue& value);

}  // namespace ruvo::bin
