// The dictionary readers' interface: what a dictionary file is (find_dictionaries), and its articles
// read whole and checked (read_dictionary). dictd, StarDict, MDict (.mdx) and CC-CEDICT files are read
// as they come; markup becomes plain text for ruvo and agents, and sanitized HTML for the interface.
// Nothing here touches the store: the caller decides what to keep.
#pragma once

#include "common/result.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::readers {

using common::Result;

enum class Format { kDictd, kStarDict, kMdict, kCedict };

// "dictd", "stardict", "mdict", "cedict": the names the store and the HTTP replies use.
std::string_view format_name(Format format);
// The inverse of format_name; nothing for any other text.
std::optional<Format> format_from_name(std::string_view name);

// A dictionary found on disk, not yet read.
struct Found {
  Format format = Format::kDictd;
  // The dictionary's main file: the .index (dictd), the .ifo (StarDict), the .mdx (MDict) or the
  // CC-CEDICT text itself (plain or gzipped). The other files sit beside it with the same stem.
  std::string path;
  // Its name as the file gives it (00-database-short, bookname, Title, "CC-CEDICT"), or the file's
  // stem when the file names none or its name cannot be read.
  std::string name;
};

// What `path` holds:
// - a file of any of the four formats, recognised by content and name; any one of a dictionary's
//   files names the dictionary (foldoc.dict.dz finds foldoc.index, words.syn finds words.ifo), so
//   the result has one element;
// - a folder: every dictionary in it and in its subfolders down to kFindDepth levels, each once,
//   sorted by path; files that are no dictionary are passed over, and so is what cannot be listed
//   below the top. An empty list when there is none.
// An error saying why, in Chinese like the service's other messages, for a path that does not
// exist, cannot be read, or is a file of no known format (or one whose companion files are missing).
inline constexpr int kFindDepth = 4;
Result<std::vector<Found>> find_dictionaries(const std::string& path);

// What a dictionary says about itself.
struct DictionaryMeta {
  Format format = Format::kDictd;
  std::string name;  // as in Found::name
  // The long description or licence as plain text with "\n" line breaks: 00-database-info,
  // StarDict's description (with author, email, date), MDict's Description, CC-CEDICT's header
  // comment and #! lines. "" when the file has none.
  std::string info;
  std::string url;   // 00-database-url, StarDict's website, CC-CEDICT's download address; "" if none
  std::string path;  // Found::path
  // The entry count the file declares (StarDict wordcount, MDict's entry count, CC-CEDICT's
  // #! entries); nothing for dictd, which declares none. Not the number of articles handed out:
  // aliases and links are folded into articles.
  std::optional<std::uint64_t> declared_entries;
};

// One article: the unit the store keeps. Every string is valid UTF-8.
struct Article {
  std::string headword;               // as the file spells it, white space trimmed; never empty
  // Other names of this same article, each different from the headword and from each other:
  // further dictd index lines and StarDict .idx records that point at the same bytes, StarDict
  // .syn synonyms, MDict keys whose record is @@@LINK= to it, CC-CEDICT's Traditional form.
  std::vector<std::string> aliases;
  // Plain text with "\n" line breaks, for ruvo and agents: markup turned into text, the repeated
  // headword line and common indentation of dictd articles dropped, no blank line at either end
  // and never two blank lines in a row. Never empty.
  std::string text;
  // Sanitized HTML for the interface (see sanitize.hpp: a whitelist of harmless tags, no attribute
  // but data-see on cross-reference links); "" when the article is plain text without links.
  std::string html;
  std::string phonetic;               // StarDict 't'/'y' fields and XDXF <tr>, CC-CEDICT pinyin with tone marks
  // Headwords this article refers to ({word} in dictd, bword:// in StarDict, <kref> in XDXF,
  // entry:// in MDict), each once, in order of appearance.
  std::vector<std::string> see_also;
  std::vector<std::string> senses;    // CC-CEDICT: each /sense/ on its own; empty for the other formats
  // "zh" or "en": the language the article is written in. CC-CEDICT's are "en"; for the others,
  // "zh" when Han characters make up at least a third of its letters, else "en".
  std::string lang;
};

// Receives each article as it is read. An error stops the reading and is returned as it is.
using ArticleSink = std::function<Result<void>(Article&&)>;

// Reads the whole dictionary that `found` names, handing each article to `each` as it goes: memory
// beyond the index (and the headwords) stays bounded, whatever the size of the articles' file.
// Everything is checked: a truncated or corrupt file, an offset or length past the end, a count
// that does not match, a bad checksum, an unknown encoding, a malformed line, a dictionary that
// needs a registration code: each is an error naming the file and what is wrong (in Chinese, e.g.
// "foldoc.dict.dz 在第 3 块被截断"), returned as soon as it is seen, and nothing is handed out after
// it. Articles handed out before it may have been; the caller adds all or nothing. Articles come
// in the order of their bytes in the file, not of their headwords. Metadata entries (dictd's
// 00-database-*) are never articles.
Result<DictionaryMeta> read_dictionary(const Found& found, const ArticleSink& each);

}  // namespace ruvo::desktop::readers
