// The stored terms a text holds, for explaining a sentence or a passage:
// found through the in-memory names (name_index.hpp) in the text folded as
// lookups fold it, confirmed by the store, placed in the text as given.
#pragma once

#include "common/result.hpp"
#include "store/name_index.hpp"
#include "store/store.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::store {

// A stored term found in a text.
struct TermInText {
  TermEntry entry;          // the best entry for the name found there
  std::string text;         // the name as the text writes it
  std::uint32_t start = 0;  // where, in code points of the text
  std::uint32_t end = 0;    // one past, in code points
};

// The most terms one text gives.
inline constexpr std::size_t kMostTermsInText = 20;

// The stored terms in `text`, in order of first appearance, each entry once,
// at most `most`. The text is read from left to right; at each place the
// longest stored name (term or alias, compared by match key) is taken first,
// and the reading goes on after it, so names never overlap. A name that
// begins with a letter or digit of a script that spaces its words (Latin,
// say) is only found where no such letter or digit comes right before it,
// and one that ends with one only where none comes right after it: RAG is
// not in "drag", "fragment" or "RAG2". Chinese, Japanese and Korean names
// are found anywhere. Each name found is looked up in the store (find_any,
// `lang` first); a name that does not count (counts_in_text) is passed
// over, and a shorter one at the same place is tried.
Result<std::vector<TermInText>> terms_in_text(TermStore& store, NameIndex& names, std::string_view text,
                                              std::string_view lang, std::size_t most = kMostTermsInText);

// Whether an entry found under a name counts as a term of a text: a name of
// one character never does (a single Han character, a letter; the in-memory
// names leave those out already), nor one that is an everyday word
// (is_everyday_word) when the entry comes from a dictionary rather than
// from the person, the glossary or a model's remembered answer.
bool counts_in_text(const TermEntry& entry, std::string_view key);

// True for a match key on the short list of the commonest words of Chinese
// and English (的, 我们, 什么, 可以; the, with, what), which a bilingual
// dictionary holds like any other headword and which explain nothing.
bool is_everyday_word(std::string_view key);

// True when the entry came from a dictionary: any source but the person's,
// the glossary's and a model's.
bool from_dictionary(const TermEntry& entry);

}  // namespace ruvo::desktop::store
