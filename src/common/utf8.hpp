// UTF-8 and Unicode white-space helpers.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ruvo::common {

// True when the bytes are well-formed UTF-8 (no overlongs, no surrogates,
// nothing above U+10FFFF).
bool is_valid_utf8(std::string_view bytes);

// The bytes with every ill-formed sequence replaced by U+FFFD (one per
// maximal ill-formed subpart). Valid input comes back unchanged.
std::string to_valid_utf8(std::string_view bytes);

// One step through UTF-8 text: the scalar value at a position and its length
// in bytes. An ill-formed sequence is not valid and spans its maximal
// ill-formed subpart (at least one byte).
struct Utf8Step {
  char32_t scalar;
  std::size_t length;
  bool valid;
};
Utf8Step decode_utf8(std::string_view text, std::size_t pos);

// The text as it may be shown on a terminal: every C0 control but line feed
// and tab, DEL, every C1 control and every ill-formed sequence become U+FFFD,
// so stored text can neither move the cursor, retitle or clear the screen,
// nor write the clipboard. Anything else is kept byte for byte.
std::string terminal_safe(std::string_view text);

// True for the characters with the Unicode White_Space property.
bool is_unicode_space(char32_t c);

// The text without White_Space characters at either end. Expects valid
// UTF-8; ill-formed bytes count as non-space.
std::string_view trim_unicode_space(std::string_view text);

// True when nothing but White_Space is in the text.
bool is_blank(std::string_view text);

// The longest prefix holding at most `count` scalar values. Expects valid
// UTF-8; ill-formed bytes count one each.
std::string_view first_scalars(std::string_view text, std::size_t count);

// The text with A-Z turned to a-z and every other byte kept: for names that
// are ASCII by protocol (HTTP header names, host names, JSON keys).
std::string ascii_lower(std::string_view text);

}  // namespace ruvo::common
