// A text folded the way match keys fold (width, case, Traditional →
// Simplified, every run of white space one space), one piece at a time, so
// that a stored name found in the folded text can be placed and quoted in
// the text as it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::store {

// A piece of the given text: one character with the combining marks that
// follow it, so "e" + U+0301 folds as "é" does.
struct TextPiece {
  std::uint32_t start = 0;  // in code points of the given text
  std::uint32_t end = 0;    // one past, in code points
  std::uint32_t byte_start = 0;
  std::uint32_t byte_end = 0;
};

struct FoldedText {
  std::u32string chars;              // the folded text
  std::vector<std::uint32_t> piece;  // for each folded character, the index of its piece
  std::vector<TextPiece> pieces;

  // Whether folded position `i` begins a piece, and whether `j` (one past a
  // folded character) ends one: a name is only found on those edges.
  bool starts_piece(std::size_t i) const { return i == 0 || piece[i] != piece[i - 1]; }
  bool ends_piece(std::size_t j) const { return j == chars.size() || piece[j] != piece[j - 1]; }
};

// Folds a text of valid UTF-8 (an ill-formed byte becomes U+FFFD, which no
// key holds). A piece that folds to nothing (a zero-width space) leaves no
// folded character; a run of white space, of any pieces, leaves one space.
FoldedText fold_text(std::string_view text);

// The folded characters [from, to) as UTF-8: the match key they spell.
std::string utf8_of(std::u32string_view chars);

}  // namespace ruvo::desktop::store
