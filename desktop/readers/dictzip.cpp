// dictzip random access: the chunk table from the gzip header, and one chunk inflated at a time.
#include "readers/dictzip.hpp"

#include "readers/gzip.hpp"

#include <zlib.h>

#include <algorithm>

namespace ruvo::desktop::readers {
namespace {

constexpr std::uint64_t kMostFinalBytes = 64;

std::uint16_t le16(const unsigned char* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }

class DictzipBytes : public ByteSource {
 public:
  DictzipBytes(std::unique_ptr<ByteSource> file, DictzipLayout layout, std::vector<std::uint64_t> starts,
               std::uint64_t size, std::uint32_t crc)
      : file_(std::move(file)), layout_(std::move(layout)), starts_(std::move(starts)), size_(size), crc_expected_(crc) {
    crc_ = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
  }
  std::uint64_t size() const override { return size_; }
  const std::string& name() const override { return file_->name(); }

  Result<std::string> read(std::uint64_t offset, std::size_t length) override {
    if (offset > size_ || length > size_ - offset) return past_end(name(), offset, length, size_);
    std::string out;
    out.reserve(length);
    while (out.size() < length) {
      const std::uint64_t at = offset + out.size();
      const std::size_t chunk = static_cast<std::size_t>(at / layout_.chunk_length);
      auto loaded = load(chunk);
      if (!loaded) return loaded.error();
      const std::size_t within = static_cast<std::size_t>(at - static_cast<std::uint64_t>(chunk) * layout_.chunk_length);
      out.append(chunk_data_, within, std::min(length - out.size(), chunk_data_.size() - within));
    }
    return out;
  }

  Result<void> finish() override {
    while (crc_next_ < layout_.chunk_sizes.size()) {
      auto loaded = load(crc_next_);
      if (!loaded) return loaded;
    }
    if (crc_ != crc_expected_) return common::failure(name() + " 的 CRC-32 校验和不符：文件已损坏");
    return {};
  }

 private:
  // Makes chunk_data_ hold chunk `chunk`, inflated on its own.
  Result<void> load(std::size_t chunk) {
    if (chunk_index_ == chunk) return {};
    const std::string number = std::to_string(chunk + 1);
    auto packed = file_->read(starts_[chunk], layout_.chunk_sizes[chunk]);
    if (!packed) return common::failure(name() + " 在第 " + number + " 块被截断");
    const bool last = chunk + 1 == layout_.chunk_sizes.size();
    const std::uint64_t expected =
        last ? size_ - static_cast<std::uint64_t>(chunk) * layout_.chunk_length : layout_.chunk_length;
    chunk_index_ = static_cast<std::size_t>(-1);
    chunk_data_.assign(static_cast<std::size_t>(expected) + 1, '\0');
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return common::failure("zlib 无法初始化");
    z.next_in = reinterpret_cast<Bytef*>(packed->data());
    z.avail_in = static_cast<uInt>(packed->size());
    z.next_out = reinterpret_cast<Bytef*>(chunk_data_.data());
    z.avail_out = static_cast<uInt>(chunk_data_.size());
    const int status = inflate(&z, Z_SYNC_FLUSH);
    const std::size_t produced = chunk_data_.size() - z.avail_out;
    inflateEnd(&z);
    if (status == Z_DATA_ERROR || status == Z_MEM_ERROR || status == Z_NEED_DICT || status == Z_STREAM_ERROR) {
      return common::failure(name() + " 的第 " + number + " 块已损坏：无法解压");
    }
    if (produced < expected) return common::failure(name() + " 在第 " + number + " 块被截断");
    if (produced > expected) return common::failure(name() + " 的第 " + number + " 块比分块表说的长");
    chunk_data_.resize(produced);
    chunk_index_ = chunk;
    if (chunk == crc_next_) {
      crc_ = static_cast<std::uint32_t>(crc32(crc_, reinterpret_cast<const Bytef*>(chunk_data_.data()),
                                              static_cast<uInt>(chunk_data_.size())));
      ++crc_next_;
    }
    return {};
  }

  std::unique_ptr<ByteSource> file_;
  DictzipLayout layout_;
  std::vector<std::uint64_t> starts_;  // where each chunk's compressed bytes begin
  std::uint64_t size_;
  std::uint32_t crc_expected_;
  std::uint32_t crc_ = 0;
  std::size_t crc_next_ = 0;  // the chunks before it are in crc_, in order
  std::size_t chunk_index_ = static_cast<std::size_t>(-1);
  std::string chunk_data_;
};

}  // namespace

Result<std::optional<DictzipLayout>> parse_dictzip_extra(std::string_view extra, std::size_t data_start,
                                                         const std::string& name) {
  const auto* p = reinterpret_cast<const unsigned char*>(extra.data());
  std::size_t pos = 0;
  while (extra.size() - pos >= 4) {
    const std::size_t length = le16(p + pos + 2);
    if (extra.size() - pos - 4 < length) return common::failure(name + " 的 gzip 扩展字段不完整");
    if (p[pos] == 'R' && p[pos + 1] == 'A') {
      const unsigned char* field = p + pos + 4;
      if (length < 6) return common::failure(name + " 的随机访问表不完整");
      const std::uint16_t version = le16(field);
      if (version != 1) return common::failure(name + " 的随机访问表版本 " + std::to_string(version) + " 不支持");
      DictzipLayout layout;
      layout.data_start = data_start;
      layout.chunk_length = le16(field + 2);
      const std::size_t count = le16(field + 4);
      if (layout.chunk_length == 0) return common::failure(name + " 的分块长度为 0");
      if (length < 6 + 2 * count) return common::failure(name + " 的随机访问表比块数短");
      for (std::size_t i = 0; i < count; ++i) layout.chunk_sizes.push_back(le16(field + 6 + 2 * i));
      return std::optional<DictzipLayout>(std::move(layout));
    }
    pos += 4 + length;
  }
  return std::optional<DictzipLayout>();
}

Result<std::unique_ptr<ByteSource>> open_compressed(std::unique_ptr<ByteSource> compressed) {
  const std::uint64_t file_size = compressed->size();
  auto head = compressed->read(0, static_cast<std::size_t>(std::min<std::uint64_t>(file_size, 1 << 17)));
  if (!head) return head.error();
  auto header = parse_gzip_header(*head, compressed->name());
  if (!header) return header.error();
  auto layout = parse_dictzip_extra(header->extra, header->data_start, compressed->name());
  if (!layout) return layout.error();
  if (!layout->has_value()) return open_gzip_stream(std::move(compressed));

  DictzipLayout& table = **layout;
  std::vector<std::uint64_t> starts;
  starts.reserve(table.chunk_sizes.size());
  std::uint64_t at = table.data_start;
  for (const auto size : table.chunk_sizes) {
    starts.push_back(at);
    at += size;
  }
  const std::string& name = compressed->name();
  // A file shorter than its table is cut inside the first chunk that does not fit.
  if (at + 8 > file_size) {
    std::size_t cut = 0;
    while (cut < starts.size() && starts[cut] + table.chunk_sizes[cut] <= file_size) ++cut;
    if (cut == starts.size()) return common::failure(name + " 被截断：缺少 gzip 结尾");
    return common::failure(name + " 在第 " + std::to_string(cut + 1) + " 块被截断");
  }
  // dictzip ends the deflate stream after the last chunk with a final empty block of its own (two
  // bytes, outside the table) before the gzip trailer; more than a few such bytes is something else.
  if (file_size - 8 - at > kMostFinalBytes) {
    return common::failure(name + " 的分块表与文件大小不符：末尾有多余的数据");
  }
  auto trailer = compressed->read(file_size - 8, 8);
  if (!trailer) return trailer.error();
  const auto* t = reinterpret_cast<const unsigned char*>(trailer->data());
  // The trailer gives the length modulo 2^32; the table bounds it to one chunk's span, which is
  // shorter than 2^32, so the two together give it exactly.
  const std::uint64_t count = table.chunk_sizes.size();
  std::uint64_t size = 0;
  if (count > 0) {
    const std::uint64_t low = (count - 1) * table.chunk_length + 1;
    const std::uint64_t isize = le32(t + 4);
    size = low + ((isize - low) & 0xffffffffu);
    if (size > count * table.chunk_length) {
      return common::failure(name + " 的长度（gzip 结尾）与分块表不符");
    }
  } else if (le32(t + 4) != 0) {
    return common::failure(name + " 的长度（gzip 结尾）与分块表不符");
  }
  std::unique_ptr<ByteSource> bytes =
      std::make_unique<DictzipBytes>(std::move(compressed), std::move(table), std::move(starts), size, le32(t));
  return bytes;
}

}  // namespace ruvo::desktop::readers
