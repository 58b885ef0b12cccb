// MDict's keyword section: its counts, the key index (maybe enciphered) and the key blocks.
#include "readers/mdict.hpp"

#include "common/utf8.hpp"

#include <zlib.h>

namespace ruvo::desktop::readers {
namespace {

constexpr std::uint64_t kIndexLimit = 256ull << 20;

// Reads big-endian numbers and keys from a buffer, failing once it runs out.
class Cursor {
 public:
  Cursor(std::string_view bytes, std::string what) : bytes_(bytes), what_(std::move(what)) {}
  Result<std::uint64_t> number(int width) {
    if (bytes_.size() - pos_ < static_cast<std::size_t>(width)) return cut();
    std::uint64_t value = 0;
    for (int i = 0; i < width; ++i) value = value << 8 | static_cast<unsigned char>(bytes_[pos_ + i]);
    pos_ += width;
    return value;
  }
  Result<std::string_view> take(std::uint64_t count) {
    if (bytes_.size() - pos_ < count) return cut();
    const std::string_view out = bytes_.substr(pos_, static_cast<std::size_t>(count));
    pos_ += static_cast<std::size_t>(count);
    return out;
  }
  // Bytes up to a terminator of `unit` zero bytes on a unit boundary; the terminator is skipped.
  Result<std::string_view> until_nul(std::size_t unit) {
    for (std::size_t at = pos_; at + unit <= bytes_.size(); at += unit) {
      bool zero = true;
      for (std::size_t i = 0; i < unit; ++i) zero = zero && bytes_[at + i] == '\0';
      if (zero) {
        const std::string_view out = bytes_.substr(pos_, at - pos_);
        pos_ = at + unit;
        return out;
      }
    }
    return cut();
  }
  bool done() const { return pos_ == bytes_.size(); }

 private:
  common::Error cut() const { return common::failure(what_ + "被截断或长度不符：文件已损坏"); }
  std::string_view bytes_;
  std::size_t pos_ = 0;
  std::string what_;
};

struct KeyBlockInfo {
  std::uint64_t entries = 0;
  std::uint64_t compressed = 0;
  std::uint64_t decompressed = 0;
};

}  // namespace

Result<std::vector<MdictKey>> read_mdict_keys(ByteSource& file, const MdictHeader& header, std::uint64_t at,
                                              std::uint64_t& next) {
  const std::string& name = file.name();
  const bool v2 = header.major_version >= 2;
  const int width = v2 ? 8 : 4;
  const std::size_t unit = code_unit_size(header.charset);
  if (header.encrypted & 1) {
    return common::failure(name + " 已加密，需要注册码（.key 文件或 RegCode）才能读取：不支持这种词典");
  }
  if (!v2 && (header.encrypted & 2)) return common::failure(name + " 是 1.x 版本且索引加密：不支持这种词典");
  const std::size_t head_size = v2 ? 44 : 16;
  auto head = file.read(at, head_size);
  if (!head) return common::failure(name + " 被截断：关键词部分的头不完整");
  if (v2) {
    const auto* p = reinterpret_cast<const unsigned char*>(head->data());
    const std::uint32_t stored = static_cast<std::uint32_t>(p[40]) << 24 | static_cast<std::uint32_t>(p[41]) << 16 |
                                 static_cast<std::uint32_t>(p[42]) << 8 | p[43];
    if (stored != static_cast<std::uint32_t>(adler32(adler32(0, nullptr, 0), p, 40))) {
      return common::failure(name + " 的关键词部分校验和（Adler-32）不符：文件已损坏");
    }
  }
  Cursor counts(*head, name + " 的关键词部分");
  const std::uint64_t block_count = *counts.number(width);
  const std::uint64_t entry_count = *counts.number(width);
  const std::uint64_t index_decompressed = v2 ? *counts.number(width) : 0;
  const std::uint64_t index_size = *counts.number(width);
  const std::uint64_t blocks_size = *counts.number(width);
  const std::uint64_t index_at = at + head_size;
  if (index_size > file.size() || blocks_size > file.size() || index_at + index_size + blocks_size > file.size()) {
    return common::failure(name + " 被截断：关键词部分超出了文件末尾");
  }
  auto raw_index = file.read(index_at, static_cast<std::size_t>(index_size));
  if (!raw_index) return raw_index.error();
  std::string index;
  if (v2) {
    if (raw_index->size() < 8) return common::failure(name + " 的关键词索引被截断");
    if (index_decompressed > kIndexLimit) return common::failure(name + " 的关键词索引大得不合理：文件已损坏");
    std::string wrapped = std::move(*raw_index);
    if (header.encrypted & 2) {
      std::string payload = wrapped.substr(8);
      mdict_decrypt(payload, mdict_index_key(std::string_view(wrapped).substr(4, 4)));
      wrapped = wrapped.substr(0, 8) + payload;
    }
    auto decoded = decode_mdict_block(wrapped, index_decompressed, name + " 的关键词索引");
    if (!decoded) return decoded.error();
    index = std::move(*decoded);
  } else {
    index = std::move(*raw_index);
  }
  // The key index: per key block its entry count, first and last key, and sizes.
  std::vector<KeyBlockInfo> blocks;
  Cursor cursor(index, name + " 的关键词索引");
  std::uint64_t entries_total = 0;
  std::uint64_t compressed_total = 0;
  for (std::uint64_t b = 0; b < block_count; ++b) {
    KeyBlockInfo block;
    auto entries = cursor.number(width);
    if (!entries) return entries.error();
    block.entries = *entries;
    for (int edge = 0; edge < 2; ++edge) {
      auto length = cursor.number(v2 ? 2 : 1);
      if (!length) return length.error();
      auto key = cursor.take((*length + (v2 ? 1 : 0)) * unit);
      if (!key) return key.error();
    }
    auto compressed = cursor.number(width);
    if (!compressed) return compressed.error();
    auto decompressed = cursor.number(width);
    if (!decompressed) return decompressed.error();
    block.compressed = *compressed;
    block.decompressed = *decompressed;
    entries_total += block.entries;
    compressed_total += block.compressed;
    if (compressed_total > blocks_size) break;
    blocks.push_back(block);
  }
  if (!cursor.done() || blocks.size() != block_count) {
    return common::failure(name + " 的关键词索引与块数 " + std::to_string(block_count) + " 不符：文件已损坏");
  }
  if (entries_total != entry_count) {
    return common::failure(name + " 的关键词块共有 " + std::to_string(entries_total) + " 个词条，但头里记的是 " +
                           std::to_string(entry_count));
  }
  if (compressed_total != blocks_size) {
    return common::failure(name + " 的关键词块总长与头里记的不符：文件已损坏");
  }
  // The key blocks themselves.
  Decoder decoder(header.charset);
  std::vector<MdictKey> keys;
  keys.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(entry_count, blocks_size)));
  std::uint64_t block_at = index_at + index_size;
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    const std::string what = name + " 的第 " + std::to_string(b + 1) + " 个关键词块";
    auto wrapped = file.read(block_at, static_cast<std::size_t>(blocks[b].compressed));
    if (!wrapped) return wrapped.error();
    block_at += blocks[b].compressed;
    auto block = decode_mdict_block(*wrapped, blocks[b].decompressed, what);
    if (!block) return block.error();
    Cursor entries(*block, what);
    for (std::uint64_t e = 0; e < blocks[b].entries; ++e) {
      auto offset = entries.number(width);
      if (!offset) return offset.error();
      auto raw = entries.until_nul(unit);
      if (!raw) return raw.error();
      auto key = decoder.decode(*raw);
      if (!key) return common::failure(what + "里的词头不是有效的 " + std::string(header.charset == Charset::kUtf8 ? "UTF-8" : "所声明编码的") + "文本");
      keys.push_back({std::move(*key), *offset});
    }
    if (!entries.done()) return common::failure(what + "里的词条比索引记的多：文件已损坏");
  }
  next = block_at;
  return keys;
}

}  // namespace ruvo::desktop::readers
