#include "common/utf8.hpp"

namespace ruvo::common {
namespace {

constexpr char32_t kInvalid = 0xFFFFFFFF;

struct Decoded {
  char32_t scalar;    // kInvalid for an ill-formed sequence
  std::size_t length; // bytes consumed: the sequence, or its maximal ill-formed subpart
};

// Decodes the sequence starting at `pos` following the well-formed byte table
// of Unicode (so overlongs, surrogates and values above U+10FFFF are
// ill-formed, and the ill-formed part is as long as its valid prefix).
Decoded decode(std::string_view s, std::size_t pos) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  if (b0 < 0x80) return {b0, 1};
  std::size_t need;
  char32_t value;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    value = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    value = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    value = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return {kInvalid, 1};
  }
  std::size_t i = 1;
  for (; i <= need; ++i) {
    if (pos + i >= s.size()) return {kInvalid, i};
    const auto b = static_cast<unsigned char>(s[pos + i]);
    if (b < lo || b > hi) return {kInvalid, i};
    lo = 0x80;
    hi = 0xBF;
    value = (value << 6) | (b & 0x3F);
  }
  return {value, i};
}

}  // namespace

Utf8Step decode_utf8(std::string_view text, std::size_t pos) {
  const Decoded d = decode(text, pos);
  return {d.scalar == kInvalid ? U'\uFFFD' : d.scalar, d.length, d.scalar != kInvalid};
}

bool is_valid_utf8(std::string_view bytes) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    // ASCII runs are the common case; skip them without decoding.
    if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
      ++pos;
      continue;
    }
    const Decoded d = decode(bytes, pos);
    if (d.scalar == kInvalid) return false;
    pos += d.length;
  }
  return true;
}

std::string to_valid_utf8(std::string_view bytes) {
  if (is_valid_utf8(bytes)) return std::string(bytes);
  std::string out;
  out.reserve(bytes.size() + 8);
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const Decoded d = decode(bytes, pos);
    if (d.scalar == kInvalid) {
      out += "\xEF\xBF\xBD";
    } else {
      out.append(bytes.substr(pos, d.length));
    }
    pos += d.length;
  }
  return out;
}

std::string terminal_safe(std::string_view text) {
  static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";
  std::string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const Utf8Step step = decode_utf8(text, pos);
    const char32_t c = step.scalar;
    const bool control = (c < 0x20 && c != '\n' && c != '\t') || (c >= 0x7F && c <= 0x9F);
    if (!step.valid || control) {
      out += kReplacement;
    } else {
      out.append(text.substr(pos, step.length));
    }
    pos += step.length;
  }
  return out;
}

bool is_unicode_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
         c == 0x205F || c == 0x3000;
}

std::string_view trim_unicode_space(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const Decoded d = decode(text, begin);
    if (d.scalar == kInvalid || !is_unicode_space(d.scalar)) break;
    begin += d.length;
  }
  // Walk forward remembering where the last non-space character ended, so a
  // multi-byte character at the end is never split.
  std::size_t end = begin;
  std::size_t pos = begin;
  while (pos < text.size()) {
    const Decoded d = decode(text, pos);
    pos += d.length;
    if (d.scalar == kInvalid || !is_unicode_space(d.scalar)) end = pos;
  }
  return text.substr(begin, end - begin);
}

bool is_blank(std::string_view text) { return trim_unicode_space(text).empty(); }

std::string_view first_scalars(std::string_view text, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t n = 0; n < count && pos < text.size(); ++n) pos += decode(text, pos).length;
  return text.substr(0, pos);
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

}  // namespace ruvo::common
