#include "mcp/line_reader.hpp"

#include <cstring>
#include <utility>

namespace ruvo::mcp {

LineReader::LineReader(ReadFunction read) : read_(std::move(read)) {}

std::optional<std::string> LineReader::next_line() {
  for (;;) {
    if (scanned_ < buffer_.size()) {
      const void* found = std::memchr(buffer_.data() + scanned_, '\n', buffer_.size() - scanned_);
      if (found != nullptr) {
        const auto end = static_cast<std::size_t>(static_cast<const char*>(found) - buffer_.data()) + 1;
        std::string line = buffer_.substr(start_, end - start_);
        start_ = end;
        scanned_ = end;
        return line;
      }
      scanned_ = buffer_.size();
    }
    if (finished_) break;

    // Drop what was handed out before growing, so the buffer holds one
    // unfinished line and never the whole input.
    if (start_ > 0) {
      buffer_.erase(0, start_);
      scanned_ -= start_;
      start_ = 0;
      // A past line of many MiB need not stay allocated for the rest of the
      // session.
      if (buffer_.capacity() > 16 * kChunkBytes && buffer_.size() < kChunkBytes) buffer_.shrink_to_fit();
    }
    // Reads land in a chunk of their own and only the bytes read join the
    // buffer: growing the buffer by a whole chunk before each read would
    // clear 64 KiB for every short message an agent sends.
    if (!chunk_) chunk_ = std::make_unique_for_overwrite<char[]>(kChunkBytes);
    const auto got = read_(chunk_.get(), kChunkBytes);
    if (!got) {
      // A failed read ends the input; a partial line is not trusted.
      buffer_.clear();
      start_ = scanned_ = 0;
      finished_ = true;
      return std::nullopt;
    }
    buffer_.append(chunk_.get(), *got);
    if (*got == 0) finished_ = true;
  }

  if (start_ == buffer_.size()) return std::nullopt;
  std::string rest = buffer_.substr(start_);
  buffer_.clear();
  start_ = scanned_ = 0;
  return rest;
}

}  // namespace ruvo::mcp
