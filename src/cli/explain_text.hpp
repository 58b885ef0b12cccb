// Preparing the text that `ruvo explain` sends: trimmed of Unicode white
// space at both ends, then cut to its first 2000 scalar values.
#pragma once

#include "platform/platform.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace ruvo::cli {

inline constexpr std::size_t kExplainTextLimit = 2000;

// Builds the prepared text from bytes that arrive in pieces, holding at most
// the limit's worth of text however much is fed: standard input may be far
// larger than what is sent, and must not be able to exhaust memory. The
// result equals trimming the whole input at both ends and keeping its first
// kExplainTextLimit scalar values (nothing is trimmed after the cut).
// Input that is not valid UTF-8 anywhere, including a sequence left
// incomplete at the end, gives the empty text.
class ExplainTextBuilder {
 public:
  void feed(std::string_view bytes);
  std::string finish() const;

 private:
  std::string carry_;            // an incomplete sequence at the end of the last piece
  bool invalid_ = false;
  bool in_leading_space_ = true;
  std::string kept_;             // the first scalars after the leading white space
  std::size_t kept_scalars_ = 0;
  bool text_beyond_kept_ = false;  // a non-space scalar follows the kept ones
};

// The prepared form of a whole text.
std::string prepare_explain_text(std::string_view text);

// Reads the input (standard input, in the program) to its end and prepares
// it. A read that fails part-way keeps what was read before it, silently.
std::string read_explain_text(const platform::ReadFunction& input);

}  // namespace ruvo::cli
