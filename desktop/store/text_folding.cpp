// Folding a text piece by piece, keeping where every folded character came
// from.
#include "store/text_folding.hpp"

#include "common/utf8.hpp"
#include "store/match_key.hpp"

#include <utf8proc.h>

namespace ruvo::desktop::store {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool is_mark(char32_t c) {
  auto category = utf8proc_category(static_cast<utf8proc_int32_t>(c));
  return category == UTF8PROC_CATEGORY_MN || category == UTF8PROC_CATEGORY_MC || category == UTF8PROC_CATEGORY_ME;
}

void append_utf8(std::string& out, char32_t c) {
  utf8proc_uint8_t bytes[4];
  const utf8proc_ssize_t n = utf8proc_encode_char(static_cast<utf8proc_int32_t>(c), bytes);
  out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(n));
}

std::u32string code_points(std::string_view text) {
  std::u32string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    auto step = common::decode_utf8(text, pos);
    out.push_back(step.valid ? step.scalar : kReplacement);
    pos += step.length;
  }
  return out;
}

// Traditional characters made Simplified as match_key makes them: the
// whole folded text at once, so the conversion's phrases apply as they do to
// a stored name; when that changes the number of characters (it seldom
// does), each character alone, so that positions stay where they were.
void simplify(FoldedText& folded) {
  bool ascii = true;
  for (char32_t c : folded.chars) ascii = ascii && c < 0x80;
  if (ascii) return;
  const std::string text = utf8_of(folded.chars);
  const std::string converted = simplified_chinese(text);
  if (converted == text) return;
  std::u32string whole = code_points(converted);
  if (whole.size() == folded.chars.size()) {
    folded.chars = std::move(whole);
    return;
  }
  for (char32_t& c : folded.chars) {
    if (c < 0x80) continue;
    std::string one;
    append_utf8(one, c);
    std::u32string alone = code_points(simplified_chinese(one));
    if (alone.size() == 1) c = alone[0];
  }
}

}  // namespace

std::string utf8_of(std::u32string_view chars) {
  std::string out;
  out.reserve(chars.size() * 3);
  for (char32_t c : chars) append_utf8(out, c);
  return out;
}

FoldedText fold_text(std::string_view text) {
  FoldedText out;
  out.chars.reserve(text.size());
  out.piece.reserve(text.size());
  std::uint32_t at = 0;  // code points read
  for (std::size_t pos = 0; pos < text.size();) {
    TextPiece piece{at, at, static_cast<std::uint32_t>(pos), static_cast<std::uint32_t>(pos)};
    auto first = common::decode_utf8(text, pos);
    pos += first.length;
    ++at;
    if (first.valid) {
      while (pos < text.size()) {
        auto next = common::decode_utf8(text, pos);
        if (!next.valid || !is_mark(next.scalar)) break;
        pos += next.length;
        ++at;
      }
    }
    piece.end = at;
    piece.byte_end = static_cast<std::uint32_t>(pos);
    const auto index = static_cast<std::uint32_t>(out.pieces.size());
    out.pieces.push_back(piece);

    std::u32string folded;
    if (!first.valid) {
      folded.push_back(kReplacement);
    } else if (first.length == 1 && piece.end == piece.start + 1) {
      char c = text[piece.byte_start];
      folded.push_back(static_cast<char32_t>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    } else {
      folded = code_points(fold_piece(text.substr(piece.byte_start, piece.byte_end - piece.byte_start)));
    }
    for (char32_t c : folded) {
      if (common::is_unicode_space(c)) {
        if (out.chars.empty() || out.chars.back() == U' ') continue;
        c = U' ';
      }
      out.chars.push_back(c);
      out.piece.push_back(index);
    }
  }
  simplify(out);
  return out;
}

}  // namespace ruvo::desktop::store
