// dictd databases: NAME.index (headword TAB offset TAB length, offset and length in base 64, an
// optional fourth column with the headword as originally spelled) and NAME.dict, NAME.dict.dz
// (dictzip) or NAME.dict.gz, whose articles are plain text with {word} cross-references.
#pragma once

#include "readers/byte_source.hpp"
#include "readers/dictionary.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::readers {

// A number written in dictd's base 64 (A-Z a-z 0-9 + /, A = 0, most significant digit first);
// nothing for an empty text, any other character, or a value past 2^64 - 1.
std::optional<std::uint64_t> decode_dictd_number(std::string_view digits);

struct DictdIndexLine {
  std::string headword;  // the first column, trimmed
  std::string spelling;  // the fourth column when there is one (trimmed), else ""
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
  std::size_t line = 0;  // from 1
};

// One line of an index (without its line feed; a trailing "\r" is allowed). The error names
// `file` and the line: a missing column, an empty headword, a bad base-64 digit, text that is not
// UTF-8.
Result<DictdIndexLine> parse_dictd_index_line(std::string_view line, std::size_t line_number, const std::string& file);

// Every line of an index; empty lines are allowed only at the end.
Result<std::vector<DictdIndexLine>> parse_dictd_index(std::string_view text, const std::string& file);

// True for the headwords that hold the database's metadata (00-database-short, 00databaseutf8, …).
bool is_dictd_metadata(std::string_view headword);

// An article as the reader hands it out: the lines at its top that repeat its index names are
// dropped (the name as spelled there becomes the headword), then the common indentation, and each
// {word} becomes the word, with the word in see_also. A reference written {label (URL)} is a link
// out of the dictionary, not to a headword: its text stays, it goes to no list.
struct DictdArticle {
  std::string headword;              // the name its first line spells (as spelled there), else names[0]
  std::vector<std::string> aliases;  // the other names, each spelled as the article's top spells it
  std::string text;
  std::string html;                  // "" without cross-references
  std::vector<std::string> see_also;
};
// `raw` is the article's bytes (valid UTF-8); `names` the index's names for it, the one to head it first.
DictdArticle clean_dictd_article(std::string_view raw, const std::vector<std::string>& names);

// The name, info and url from the metadata articles' raw text (each may be "").
std::string dictd_short_name(std::string_view raw);
std::string dictd_info_text(std::string_view raw);

// Reads a database whose index text and articles' bytes are given: what read_dictionary does for
// dictd, without files (tests and fuzzers). `meta` gets the name, info and url.
Result<void> read_dictd_database(std::string_view index_text, const std::string& index_name, ByteSource& dict,
                                 DictionaryMeta& meta, const ArticleSink& each);

// The dictionary's name as its 00-database-short says, without reading the rest.
Result<std::string> dictd_name(const std::string& index_path);

// read_dictionary for dictd.
Result<DictionaryMeta> read_dictd(const Found& found, const ArticleSink& each);

// The articles' file beside an index (NAME.dict, NAME.dict.dz, NAME.dict.gz), or nothing.
std::optional<std::string> dictd_data_path(const std::string& index_path);

}  // namespace ruvo::desktop::readers
