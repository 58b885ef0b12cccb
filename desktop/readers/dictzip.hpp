// dictzip (.dict.dz): a gzip file whose header's extra field (subfield "RA") lists chunks deflated
// one by one, so that any uncompressed offset can be read by inflating one chunk: chunk
// offset / CHLEN, found at the data start plus the compressed sizes before it.
#pragma once

#include "readers/byte_source.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::readers {

struct DictzipLayout {
  std::size_t data_start = 0;                 // where the first chunk begins
  std::uint16_t chunk_length = 0;             // CHLEN: uncompressed bytes per chunk (the last may be shorter)
  std::vector<std::uint16_t> chunk_sizes;     // compressed size of each chunk
};

// The random-access table of a gzip header's extra field (`extra`, GzipHeader::extra); nothing when
// it has no RA subfield (a plain gzip file), an error naming `name` when the subfield is malformed
// (a version other than 1, a table shorter than its count, a zero chunk length).
Result<std::optional<DictzipLayout>> parse_dictzip_extra(std::string_view extra, std::size_t data_start,
                                                         const std::string& name);

// A .dz or .gz file's uncompressed content: random access through the chunks of a dictzip file,
// the forward gzip stream otherwise (gzip.hpp). For a dictzip file the table is checked against the
// file's size, each chunk must inflate to its length alone, and finish() checks the CRC-32 and
// length of the whole (inflating the chunks not read yet). A chunk cut short is
// "NAME 在第 N 块被截断" (N from 1).
Result<std::unique_ptr<ByteSource>> open_compressed(std::unique_ptr<ByteSource> compressed);

}  // namespace ruvo::desktop::readers
