// The access token of the local service.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ruvo::desktop::http {

inline constexpr std::size_t kTokenRandomBytes = 32;

// 32 bytes from the operating system's random generator written as 64
// lowercase hexadecimal digits; nothing when no random bytes are to be had.
std::optional<std::string> make_token();

// The bytes as lowercase hexadecimal digits.
std::string to_hex(std::string_view bytes);

// True when both texts are equal and not empty. The time taken depends only
// on the expected token's length, not on where the texts differ, so a caller
// cannot guess the token byte by byte from reply times.
bool tokens_equal(std::string_view given, std::string_view expected);

}  // namespace ruvo::desktop::http
