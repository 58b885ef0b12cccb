// StarDict dictionaries: NAME.ifo (the description), NAME.idx or NAME.idx.gz (headwords with the
// offset and size of their article), optional NAME.syn (synonyms), NAME.dict or NAME.dict.dz.
#pragma once

#include "readers/byte_source.hpp"
#include "readers/dictionary.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::readers {

inline constexpr std::string_view kIfoMagic = "StarDict's dict ifo file";

struct IfoInfo {
  std::string version;           // "2.4.2" or "3.0.0"
  std::string bookname;
  std::uint64_t wordcount = 0;
  std::uint64_t idxfilesize = 0;
  std::optional<std::uint64_t> synwordcount;
  int idxoffsetbits = 32;        // 64 only with version 3.0.0
  std::string sametypesequence;  // "" when the articles carry their own field types
  std::string author, email, website, description, date, dicttype;
};

// An .ifo text: the first line exactly kIfoMagic (a UTF-8 byte-order mark before it is allowed),
// then key=value lines split at the first '=', blanks around key and value dropped, any line end.
// bookname, wordcount and idxfilesize are required, numbers must be decimal, version 2.4.2 or
// 3.0.0, idxoffsetbits 32 or 64. The error names `file` and the fault.
Result<IfoInfo> parse_ifo(std::string_view text, const std::string& file);

struct IdxRecord {
  std::string word;  // as stored (not trimmed)
  std::uint64_t offset = 0;
  std::uint32_t size = 0;
};

// An .idx buffer: records of a NUL-terminated UTF-8 word, a big-endian offset of `offset_bits` bits
// and a big-endian u32 size. The error names `file`: a record cut short, a word that is not UTF-8 or
// is blank, or a record count other than `wordcount`.
Result<std::vector<IdxRecord>> parse_idx(std::string_view bytes, int offset_bits, std::uint64_t wordcount,
                                         const std::string& file);

struct SynRecord {
  std::string word;
  std::uint32_t index = 0;  // into the .idx records
};

// A .syn buffer: records of a NUL-terminated UTF-8 word and a big-endian u32 index, which must be
// below `wordcount`; `synwordcount` records exactly.
Result<std::vector<SynRecord>> parse_syn(std::string_view bytes, std::uint64_t synwordcount, std::uint64_t wordcount,
                                         const std::string& file);

struct StarDictField {
  char type = 'm';
  std::string data;  // without its NUL or length
};

// An article's bytes as fields. With `sametypesequence` the types come from it and the last field
// runs to the end; without it each field starts with its type. Lower-case types end in NUL
// (the article's last field may end at the article's end instead), upper-case ones start with a
// big-endian u32 length. The error names `where` (the file and the headword).
Result<std::vector<StarDictField>> parse_stardict_fields(std::string_view data, std::string_view sametypesequence,
                                                         const std::string& where);

// The article the fields make: 'm', 'l' and 'w' plain text; 'g' Pango markup, 'h' HTML, 'x' XDXF and
// 'k' XML turned into text and sanitized HTML; 't' and 'y' into phonetic; others ('W', 'P', 'r',
// 'n', …) left out. headword is left for the caller. An error when a text field is not UTF-8.
Result<Article> stardict_article(const std::vector<StarDictField>& fields, const std::string& where);

// Everything read_dictionary does for StarDict, on bytes given: the .ifo text, the .idx (already
// inflated), the .syn (nothing without one) and the articles' file. `meta` gets name, info, url
// and the declared count.
Result<void> read_stardict_parts(std::string_view ifo_text, const std::string& ifo_name, std::string_view idx,
                                 const std::string& idx_name, const std::optional<std::string>& syn,
                                 const std::string& syn_name, ByteSource& dict, DictionaryMeta& meta,
                                 const ArticleSink& each);

// read_dictionary for StarDict.
Result<DictionaryMeta> read_stardict(const Found& found, const ArticleSink& each);

}  // namespace ruvo::desktop::readers
