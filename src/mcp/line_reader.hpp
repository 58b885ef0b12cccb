// Splitting a byte stream into lines, however long they are.
#pragma once

#include "platform/platform.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace ruvo::mcp {

using platform::ReadFunction;

class LineReader {
 public:
  static constexpr std::size_t kChunkBytes = 64 * 1024;

  explicit LineReader(ReadFunction read);

  // The next line: the bytes up to and including the next line feed, or the
  // remaining bytes when the input ends without one. Nothing once the input
  // is exhausted, or when a read fails (bytes of an unfinished line are then
  // dropped; later calls give nothing too). Each byte is scanned for the line
  // feed once, so a line of any length costs time linear in its length.
  std::optional<std::string> next_line();

 private:
  ReadFunction read_;
  std::unique_ptr<char[]> chunk_;  // where each read lands (kChunkBytes, made on first use)
  std::string buffer_;       // bytes read and not yet handed out start at start_
  std::size_t start_ = 0;
  std::size_t scanned_ = 0;  // buffer_[start_, scanned_) holds no line feed
  bool finished_ = false;
};

}  // namespace ruvo::mcp
