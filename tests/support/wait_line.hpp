// Reading what ruvo showed on a terminal's standard error while it waited:
// the wait line (each "\r" and its text, then "\r", spaces and "\r" over it)
// apart from what the command wrote after it.
#pragma once

#include <string>
#include <string_view>

namespace ruvo::test {

struct WaitLineBytes {
  std::string shown;  // from the first "\r" to the end of the erase; empty when none
  std::string rest;   // what came after it (all of `err` when there was no line)
  bool erased = false;
};

// Splits at the last erase, "\r", one or more spaces, "\r", when `err`
// begins with "\r".
WaitLineBytes split_wait_line(std::string_view err);

}  // namespace ruvo::test
