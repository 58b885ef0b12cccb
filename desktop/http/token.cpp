#include "http/token.hpp"

#include "platform/random.hpp"

namespace ruvo::desktop::http {

std::optional<std::string> make_token() {
  auto bytes = platform::random_bytes(kTokenRandomBytes);
  if (!bytes) return std::nullopt;
  return to_hex(*bytes);
}

std::string to_hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    out.push_back(kDigits[c >> 4]);
    out.push_back(kDigits[c & 0x0f]);
  }
  return out;
}

bool tokens_equal(std::string_view given, std::string_view expected) {
  // Walk the expected token whatever was given, folding every difference
  // (the length included) into one value that is only tested at the end.
  unsigned char diff = given.size() == expected.size() ? 0 : 1;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
    diff |= static_cast<unsigned char>(g ^ static_cast<unsigned char>(expected[i]));
  }
  return diff == 0 && !expected.empty();
}

}  // namespace ruvo::desktop::http
