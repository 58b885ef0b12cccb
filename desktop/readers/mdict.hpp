// MDict dictionaries (.mdx; the .mdd resources are not used). Numbers are big-endian unless said.
// A header (u32 length, XML in UTF-16LE, its Adler-32 little-endian), a keyword section (counts,
// the key index naming each key block, the key blocks: record offset + key), a record section
// (counts, a size table, the record blocks). Every block is wrapped: 4 bytes of type (stored, LZO1X,
// zlib), the Adler-32 of its content, the payload.
//
// Supported: engine versions 2.x (8-byte numbers, as publicly described) and 1.x as this reader's
// tests write it (4-byte numbers; the key index stored as it is, one-byte key lengths without
// terminators; no checksum over the keyword header); Encrypted 0 and 2 (the key index cipher,
// which needs no secret); encodings UTF-8, UTF-16LE, GBK/GB2312/GB18030 and Big5. Refused: Encrypted
// bit 0 (a registration code is needed), other encodings, the key index cipher in 1.x files.
#pragma once

#include "readers/byte_source.hpp"
#include "readers/dictionary.hpp"
#include "readers/encoding.hpp"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::readers {

struct MdictHeader {
  std::size_t end = 0;        // where the keyword section begins
  int major_version = 2;      // of GeneratedByEngineVersion (RequiredEngineVersion when it is missing)
  int encrypted = 0;          // the Encrypted bits ("Yes" = 1, "No" = 0)
  Charset charset = Charset::kUtf8;
  bool html = true;           // Format="Html" (anything but "Text")
  std::string title;          // "" when missing or MDict's placeholder
  std::string description;    // as plain text
};

// The header at the start of `bytes` (the first bytes of the file, as many as its length says).
// The error names `file`: cut short, a bad Adler-32, no <Dictionary> tag, an encoding not supported.
Result<MdictHeader> parse_mdict_header(std::string_view bytes, const std::string& file);

// The cipher over the key index: RIPEMD-128 of (the block's 4-byte checksum field + 95 36 00 00)
// as key, and the nibble-swap chain over the payload after the block's 8-byte wrapper.
std::array<unsigned char, 16> mdict_index_key(std::string_view checksum_field);
void mdict_decrypt(std::string& payload, const std::array<unsigned char, 16>& key);
void mdict_encrypt(std::string& payload, const std::array<unsigned char, 16>& key);  // the inverse, for writers

// A wrapped block's content: exactly `decompressed_size` bytes, its Adler-32 checked. `what` names
// the block in errors ("foldoc.mdx 的第 3 个记录块").
Result<std::string> decode_mdict_block(std::string_view wrapped, std::uint64_t decompressed_size, const std::string& what);

struct MdictKey {
  std::string key;            // UTF-8
  std::uint64_t offset = 0;   // into the record blocks joined
};

// The keyword section at `at`: every key with its record offset, in file order, every count and
// checksum checked. `next` gets where the record section begins.
Result<std::vector<MdictKey>> read_mdict_keys(ByteSource& file, const MdictHeader& header, std::uint64_t at,
                                              std::uint64_t& next);

// Everything read_dictionary does for MDict, from a ByteSource (a file, or bytes in memory for the
// tests and fuzzers). `meta` gets name (when the file has a title), info and the entry count.
Result<void> read_mdict_bytes(ByteSource& file, DictionaryMeta& meta, const ArticleSink& each);

// The Title of an .mdx file (reads only the header), "" when it has none.
Result<std::string> mdict_title(const std::string& path);

// read_dictionary for MDict.
Result<DictionaryMeta> read_mdict(const Found& found, const ArticleSink& each);

}  // namespace ruvo::desktop::readers
