// What a person's command comes to: its exit code and the bytes for each
// standard stream. Only main writes them and ends the process.
#pragma once

#include "common/json.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace ruvo::cli {

using Words = std::vector<std::string>;

struct Outcome {
  int exit_code = 0;
  std::string out;  // standard output
  std::string err;  // standard error, written before `out`
  std::string note;  // standard error after `out`: a terminal's hint line, else empty

  bool operator==(const Outcome&) const = default;
};

// A failure: the message and a line feed on standard error, nothing on
// standard output, exit code 1. The message carries no line feed of its own.
Outcome fail_and_exit(std::string_view message);

// Success with the value in the pretty form and a line feed.
Outcome print_pretty_json(const common::JsonValue& value);

// Success with the text on standard output.
Outcome print_text(std::string text);

}  // namespace ruvo::cli
