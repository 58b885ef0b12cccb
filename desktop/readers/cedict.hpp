// CC-CEDICT: one UTF-8 text (often gzipped) of lines "Traditional Simplified [pin1 yin1] /sense/sense/",
// '#' comments, and "#! key=value" metadata.
#pragma once

#include "readers/dictionary.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::readers {

// Pinyin with tone numbers as pinyin with tone marks: "ni3 hao3" → "nǐ hǎo", "lu:4" → "lǜ",
// "Bei3 jing1" → "Běi jīng" (capitals kept), tone 5 or none → no mark, the joined form
// "Bei3jing1" → "Běijīng". What is no numbered syllable ("A", "·", ",") is kept as it is.
std::string pinyin_with_tone_marks(std::string_view numbered);

struct CedictEntry {
  std::string traditional;
  std::string simplified;
  std::string pinyin;                // as written, tone numbers and all; from [...] or else [[...]]
  std::vector<std::string> senses;   // each /sense/, trimmed, empty ones left out
};

// One entry line (no line feed; a trailing "\r" is allowed). The error names `file` and the line.
Result<CedictEntry> parse_cedict_line(std::string_view line, std::size_t line_number, const std::string& file);

// True when the text (a file's first bytes) is CC-CEDICT: its first line starts with "# CC-CEDICT",
// or its first line that is not a comment is an entry.
bool looks_like_cedict(std::string_view head);

// The name a CC-CEDICT text gives itself: "CC-CEDICT" when its header says so, else "".
std::string cedict_name(std::string_view head);

// Everything read_dictionary does for CC-CEDICT, on its text. `meta` gets the name (or keeps the one
// it has), the header's comment and #! lines as info, the download address as url, #! entries.
Result<void> read_cedict_text(std::string_view text, const std::string& file, DictionaryMeta& meta,
                              const ArticleSink& each);

// read_dictionary for CC-CEDICT (plain or gzipped).
Result<DictionaryMeta> read_cedict(const Found& found, const ArticleSink& each);

}  // namespace ruvo::desktop::readers
