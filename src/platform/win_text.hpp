// Text handling of the Windows platform layer: UTF-8 / UTF-16 conversion,
// command-line quoting and splitting, environment blocks, path parents and
// system message clean-up. Pure code without system headers, built on every
// platform so that it is tested where we build.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ruvo::platform::win {

// UTF-8 as UTF-16. Each ill-formed part of the input (its maximal ill-formed
// subpart) becomes one U+FFFD; valid input round-trips exactly.
std::u16string utf8_to_utf16(std::string_view text);

// UTF-16 as UTF-8. Each unpaired surrogate becomes U+FFFD, so the result is
// always valid UTF-8.
std::string utf16_to_utf8(std::u16string_view text);

// UTF-8 to UTF-16 for text that arrives in pieces (console writes): a
// multi-byte sequence cut at the end of one piece is kept and completed by
// the next. Ill-formed bytes become U+FFFD as in utf8_to_utf16.
class Utf8ToUtf16Stream {
 public:
  // The UTF-16 of the kept bytes and `bytes`, less a trailing incomplete
  // sequence, which is kept for the next call.
  std::u16string feed(std::string_view bytes);

  // The kept bytes, if any, as U+FFFD; the stream starts afresh.
  std::u16string finish();

 private:
  std::string pending_;
};

// Turns what a console read returns (UTF-16, pieces of typed lines) into the
// bytes a program reads from standard input: UTF-8, a line ending CR LF as one
// line feed, and a Ctrl+Z at the start of a line as the end of input (the
// console's own convention, since a console never ends by itself).
class ConsoleInputDecoder {
 public:
  // The UTF-8 for `units`. A high surrogate or CR at the end is kept until the
  // next piece shows what follows. Nothing is returned once ended().
  std::string feed(std::u16string_view units);

  // True once a Ctrl+Z began a line; everything after it is dropped.
  bool ended() const { return ended_; }

 private:
  bool ended_ = false;
  bool at_line_start_ = true;
  bool pending_cr_ = false;
  char16_t pending_high_ = 0;
};

// The words of a Windows command line, split as CommandLineToArgvW splits it:
// the first word (the program) ends at the next white space or, when it
// begins with a quote, at the next quote, without escapes; in later words
// 2n backslashes before a quote give n backslashes and the quote opens or
// closes quoting, 2n+1 give n backslashes and a literal quote, other
// backslashes are literal, and of a run of quotes every third is a literal
// quote (so "" inside quoting gives one quote and ends the quoting). White
// space outside quoting separates words; none is made of trailing space.
// Works on UTF-8, as the rules involve ASCII characters only. An empty line
// has no words.
std::vector<std::string> split_command_line(std::string_view line);

// One argument quoted so that split_command_line (and the C runtime's parser)
// gives it back unchanged; an argument without white space or quotes, and not
// empty, is left as it is.
std::string quote_argument(std::string_view argument);

// The command line that starts `program` with `args`: the program in quotes
// (it may hold spaces; a Windows path never holds a quote), then each argument
// quoted by quote_argument, separated by single spaces.
std::string build_command_line(std::string_view program, const std::vector<std::string>& args);

// The environment block for process creation: `current` ("NAME=value"
// entries, as the system lists them) without the names that `extra`
// overrides (names compare case-insensitively, as Windows does), plus
// `extra`, sorted by name case-insensitively, each entry NUL-terminated and
// the block ended by one more NUL. Entries whose name starts with '=' (the
// per-drive folders) are kept.
std::u16string environment_block(const std::vector<std::u16string>& current,
                                 const std::vector<std::pair<std::u16string, std::u16string>>& extra);

// The parent folder of a Windows path, accepting '\' and '/': the part before
// the last separator, keeping the separator of a root ("C:\x" gives "C:\",
// "\x" gives "\"); nothing when the path holds no separator.
std::optional<std::string> parent_folder(const std::string& path);

// The system's English text for the socket errors a client meets, for
// systems whose message table lacks them (Wine has no text for a timed-out
// read); nothing for other codes.
std::optional<std::string> socket_error_text(int code);

// A system message as one line: line breaks at the end removed, inner runs of
// CR and LF each replaced by one space. Dots and spaces are kept.
std::string one_line_message(std::string message);

}  // namespace ruvo::platform::win
