// gzip files (RFC 1952): the header with its extra field, a whole file inflated and checked, and a
// plain .dict.gz read from its start as a ByteSource. Dictzip's random access is in dictzip.hpp.
#pragma once

#include "readers/byte_source.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace ruvo::desktop::readers {

// True when the bytes begin with gzip's magic number.
bool looks_gzipped(std::string_view head);

struct GzipHeader {
  std::size_t data_start = 0;  // where the deflate data begins
  std::string extra;           // the FEXTRA field's bytes ("" without one)
};

// The header at the start of `head` (a file's first bytes: up to 64 KiB of extra field, a file
// name and a comment). An error naming `name` when it is no gzip header or is cut short.
Result<GzipHeader> parse_gzip_header(std::string_view head, const std::string& name);

// The whole uncompressed content of a gzip file, its CRC-32 and length checked, members that follow
// each other included. Refused past `limit` uncompressed bytes.
Result<std::string> gunzip_all(std::string_view compressed, const std::string& name, std::uint64_t limit);

// As much of a gzip file's start as inflates into `most` bytes, without checks: for recognising
// a file by its first lines. "" when it is no gzip data.
std::string gunzip_prefix(std::string_view compressed, std::size_t most);

// A plain gzip file (no random-access table) as a ByteSource: inflated from the start as reads go
// forward, and again from the start when a read goes back. size() is the length the gzip trailer
// states (so files under 4 GiB); finish() inflates to the end and checks CRC-32 and length.
Result<std::unique_ptr<ByteSource>> open_gzip_stream(std::unique_ptr<ByteSource> compressed);

// The 32-bit little-endian number at `p`.
std::uint32_t le32(const unsigned char* p);

}  // namespace ruvo::desktop::readers
