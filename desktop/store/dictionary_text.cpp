// The rules of a dictionary entry's text: which rows reads may use, the glosses that link a
// bilingual entry to other languages, and the bound on an article's length.
#include "common/utf8.hpp"
#include "store/dictionaries.hpp"

#include <set>

namespace ruvo::desktop::store {

namespace {

// The gloss with every parenthesised note taken out, nested ones included.
std::string without_notes(std::string_view gloss) {
  std::string out;
  int depth = 0;
  for (char c : gloss) {
    if (c == '(') {
      ++depth;
    } else if (c == ')' && depth > 0) {
      --depth;
    } else if (depth == 0) {
      out += c;
    }
  }
  return out;
}

std::size_t words_in(std::string_view text) {
  std::size_t words = 0;
  bool in_word = false;
  for (char c : text) {
    const bool space = c == ' ' || c == '\t';
    if (!space && !in_word) ++words;
    in_word = !space;
  }
  return words;
}

}  // namespace

std::string usable_term_sql(std::string_view table) {
  const std::string column = std::string(table) + ".dictionary_id";
  return "(" + column + " IS NULL OR " + column +
         " IN (SELECT id FROM dictionaries WHERE enabled = 1 AND state = 'ready'))";
}

std::vector<std::string> glosses_of(const std::vector<std::string>& senses) {
  std::vector<std::string> out;
  std::set<std::string> seen;
  for (const auto& sense : senses) {
    std::size_t start = 0;
    while (start <= sense.size()) {
      std::size_t end = sense.find(';', start);
      if (end == std::string::npos) end = sense.size();
      std::string gloss(common::trim_unicode_space(without_notes(std::string_view(sense).substr(start, end - start))));
      start = end + 1;
      if (gloss.rfind("to ", 0) == 0) gloss = std::string(common::trim_unicode_space(gloss.substr(3)));
      if (gloss.empty() || gloss.rfind("CL:", 0) == 0) continue;
      // CC-CEDICT's references to its own entries, and texts too long to name anything.
      if (gloss.find('[') != std::string::npos || gloss.find('|') != std::string::npos) continue;
      if (words_in(gloss) > 6 || common::first_scalars(gloss, 64).size() < gloss.size()) continue;
      if (seen.insert(gloss).second) out.push_back(std::move(gloss));
    }
  }
  return out;
}

std::string bounded_article_text(std::string text) {
  if (text.size() <= kMaxArticleBytes) return text;
  const std::size_t room = kMaxArticleBytes - kArticleCutNote.size() - 1;
  // At a character's first byte, never inside one.
  std::size_t cut = room;
  while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  std::string_view kept = std::string_view(text).substr(0, cut);
  const std::size_t line_end = kept.rfind('\n');
  if (line_end != std::string_view::npos && line_end > 0) kept = kept.substr(0, line_end);
  std::string out(common::trim_unicode_space(kept));
  return out + "\n" + std::string(kArticleCutNote);
}

}  // namespace ruvo::desktop::store
