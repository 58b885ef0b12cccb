// The one form stored terms, aliases and queries are compared in, so that
// "ＲＡＧ" (full-width, as Chinese input methods type it), "rag" and " RAG "
// find the same entry, and 數據庫 finds 数据库.
#pragma once

#include <string>
#include <string_view>

namespace ruvo::desktop::store {

// Unicode NFKC with case folding, White_Space trimmed at both ends and every
// run of it inside turned into one space, and Traditional Chinese written as
// Simplified. Text that is not valid UTF-8 falls back to trimming and ASCII
// lower-casing, so it still has a key of its own.
std::string match_key(std::string_view text);

// The text as the search index takes it: its match key with every CJK
// character made a word of its own, so that a search for a run of them
// (检索) finds it inside a longer one (检索增强生成) as a phrase, whatever
// its length; Latin words stay whole.
std::string index_text(std::string_view text);

// Whether Traditional → Simplified folding is in effect: the conversion data
// of the system's OpenCC was found and loaded. Without it keys are still
// folded in every other way.
bool chinese_folding_available();

// The parts of match_key that fold a text piece by piece (text_folding.hpp),
// so that every folded character can say where it came from:
// NFKC with case folding of a short piece of valid UTF-8, default-ignorable
// characters dropped (an empty result for a piece made only of them)...
std::string fold_piece(std::string_view piece);
// ...and Traditional Chinese written as Simplified, as match_key converts a
// key that is folded in every other way already.
std::string simplified_chinese(const std::string& folded);

// True for Han, kana and Hangul: the scripts written without spaces between
// words.
bool is_cjk(char32_t c);

}  // namespace ruvo::desktop::store
