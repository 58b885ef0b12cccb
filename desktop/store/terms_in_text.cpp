// Reading a text for the stored names it holds: leftmost-longest, whole
// words for spaced scripts, each entry once.
#include "store/terms_in_text.hpp"

#include "common/utf8.hpp"
#include "store/match_key.hpp"
#include "store/text_folding.hpp"

#include <utf8proc.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>

namespace ruvo::desktop::store {

namespace {

// A letter or digit of a script that puts spaces between its words: a name
// may not start or end inside a run of them.
bool is_word_character(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  if (is_cjk(c)) return false;
  switch (utf8proc_category(static_cast<utf8proc_int32_t>(c))) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
    case UTF8PROC_CATEGORY_ND:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool from_dictionary(const TermEntry& entry) { return entry.dictionary_id != 0; }

bool counts_in_text(const TermEntry& entry, std::string_view key) {
  std::size_t characters = 0;
  for (std::size_t pos = 0; pos < key.size() && characters < 2; ++characters) {
    pos += common::decode_utf8(key, pos).length;
  }
  if (characters < 2) return false;
  return !(from_dictionary(entry) && is_everyday_word(key));
}

Result<std::vector<TermInText>> terms_in_text(TermStore& store, NameIndex& names, std::string_view text,
                                              std::string_view lang, std::size_t most) {
  std::vector<TermInText> found;
  if (most == 0) return found;
  auto tables = names.tables();
  if (!tables) return tables.error();
  const NameTable& built = *tables->built;
  const NameTable& noted = *tables->noted;

  const FoldedText folded = fold_text(text);
  const std::u32string& chars = folded.chars;
  const std::size_t n = chars.size();
  const NameHash& hash = NameHash::instance();
  const std::vector<std::uint64_t> prefix = hash.prefixes(chars);

  // What the store said of each name met so far: the same name many times
  // in a text costs one lookup.
  std::map<std::string, std::optional<TermEntry>, std::less<>> looked_up;
  std::set<std::string> seen;

  std::size_t i = 0;
  while (i + 1 < n && found.size() < most) {
    const bool word_start = is_word_character(chars[i]);
    if (!folded.starts_piece(i) || chars[i] == U' ' || (word_start && i > 0 && is_word_character(chars[i - 1]))) {
      ++i;
      continue;
    }
    const std::size_t longest = std::min(
        n - i, std::max(built.longest_from(chars[i], chars[i + 1]), noted.longest_from(chars[i], chars[i + 1])));
    std::size_t taken = 0;
    for (std::size_t length = longest; length >= 2 && taken == 0; --length) {
      if (!built.has_length(length) && !noted.has_length(length)) continue;
      const std::size_t j = i + length;
      if (!folded.ends_piece(j) || chars[j - 1] == U' ') continue;
      if (j < n && is_word_character(chars[j - 1]) && is_word_character(chars[j])) continue;
      const std::uint64_t h = hash.of_range(prefix, i, j);
      if (!built.holds(h) && !noted.holds(h)) continue;

      const std::string key = utf8_of(std::u32string_view(chars).substr(i, length));
      auto known = looked_up.find(key);
      if (known == looked_up.end()) {
        // The best entry as a lookup answers it: the language asked first,
        // then the person's, the glossary's, the dictionaries in the
        // person's order (labelled with their names), model answers.
        auto named = store.entries_named(key, lang, 1, 0);
        if (!named) return named.error();
        std::optional<TermEntry> counted;
        if (!named->entries.empty() && counts_in_text(named->entries.front(), key)) {
          counted = std::move(named->entries.front());
        }
        known = looked_up.emplace(key, std::move(counted)).first;
      }
      // A hash of a name since deleted, or of another name, or a name that
      // does not count here: try a shorter one.
      if (!known->second) continue;
      taken = length;
      const TermEntry& entry = *known->second;
      if (!seen.insert(entry.id).second) continue;
      const TextPiece& first = folded.pieces[folded.piece[i]];
      const TextPiece& last = folded.pieces[folded.piece[j - 1]];
      found.push_back(TermInText{entry, std::string(text.substr(first.byte_start, last.byte_end - first.byte_start)),
                                 first.start, last.end});
    }
    i += taken == 0 ? 1 : taken;
  }
  return found;
}

}  // namespace ruvo::desktop::store
