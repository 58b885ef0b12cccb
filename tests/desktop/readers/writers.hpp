// Writers of small dictionaries in each format, for the readers' tests and the benchmarks'
// generator: written from the same descriptions as the readers, byte by byte, so that a test can
// make a sound file and then break it exactly where it wants.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::test {

// Writes the bytes to a file; false when it cannot.
bool write_bytes(const std::string& path, std::string_view bytes);

// A gzip member holding `content`, with a file name in its header when `name` is not empty.
std::string gzip_bytes(std::string_view content, std::string_view name = "");

// A dictzip file of `content` cut into chunks of `chunk_length` uncompressed bytes, with a file name
// and comment in its header when `with_name` is set.
std::string dictzip_bytes(std::string_view content, std::uint16_t chunk_length, bool with_name = false);

// dictd's base 64 ("A" for 0).
std::string dictd_number(std::uint64_t value);

// A dictd database: each article with the headwords that index it.
struct DictdEntry {
  std::vector<std::string> headwords;
  std::string text;  // the article's bytes as stored
};
struct DictdFiles {
  std::string index;
  std::string dict;  // uncompressed
};
// 00-database-short/-info/-url entries come first when given, then the articles; the index is
// sorted by headword as dictfmt sorts with every character kept.
DictdFiles dictd_files(const std::vector<DictdEntry>& articles, std::string_view short_name = "",
                       std::string_view info = "", std::string_view url = "");

// StarDict fields: a lower-case type with NUL-terminated text, an upper-case one with a length.
std::string stardict_text_field(char type, std::string_view text);
std::string stardict_data_field(char type, std::string_view data);

struct StarDictWord {
  std::string word;
  std::string data;                   // the article's bytes as stored (fields, or sametypesequence data)
  std::vector<std::string> synonyms;  // .syn records pointing at this word
};
struct StarDictOptions {
  std::string bookname = "Test Dictionary";
  std::string sametypesequence;       // "" for typed fields
  bool offset64 = false;              // idxoffsetbits=64 (version 3.0.0)
  std::string extra_ifo;              // more key=value lines, each ending in "\n"
};
struct StarDictFiles {
  std::string ifo, idx, syn, dict;    // syn is "" when no word has synonyms
};
// Words sorted as StarDict sorts them (ASCII case-insensitive, then by bytes).
StarDictFiles stardict_files(std::vector<StarDictWord> words, const StarDictOptions& options);

// The text in an encoding iconv knows ("UTF-16LE", "GBK", "BIG5"); UTF-8 as it is.
std::string encoded(std::string_view utf8, std::string_view encoding);

struct MdictEntry {
  std::string key;     // UTF-8
  std::string record;  // UTF-8; "@@@LINK=other" for a redirect
};
struct MdictOptions {
  std::string encoding = "UTF-8";   // as the header names it: UTF-8, UTF-16, GBK, Big5
  int version = 2;                  // 2 (8-byte numbers) or 1 (the 1.x layout)
  int encrypted = 0;                // the Encrypted attribute; bit 1 enciphers the key index
  int compression = 2;              // 0 stored, 1 LZO, 2 zlib
  std::size_t per_key_block = 2;
  std::size_t per_record_block = 2;
  std::string title = "Test MDict";
  std::string description = "&lt;b&gt;A test&lt;/b&gt; dictionary";
  std::string format = "Html";
};
// An .mdx file of the entries, in the order given.
std::string mdict_bytes(const std::vector<MdictEntry>& entries, const MdictOptions& options);

// A wrapped MDict block: type, Adler-32 of `content` (big-endian), compressed payload.
std::string mdict_block(std::string_view content, int compression);

}  // namespace ruvo::test
