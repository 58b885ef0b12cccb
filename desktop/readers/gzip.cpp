// gzip headers, whole-file inflation, and a forward-reading gzip stream, through zlib.
#include "readers/gzip.hpp"

#include <zlib.h>

#include <algorithm>
#include <vector>

namespace ruvo::desktop::readers {
namespace {

constexpr unsigned char kFlagText = 1, kFlagHcrc = 2, kFlagExtra = 4, kFlagName = 8, kFlagComment = 16;

common::Error corrupt(const std::string& name, const std::string& what) {
  return common::failure(name + " 不是有效的 gzip 文件：" + what);
}

// An inflater for one gzip member or raw deflate data; ended with the object.
class Inflater {
 public:
  explicit Inflater(int window_bits) { ok_ = inflateInit2(&z_, window_bits) == Z_OK; }
  ~Inflater() {
    if (ok_) inflateEnd(&z_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;
  bool ok() const { return ok_; }
  z_stream& z() { return z_; }

 private:
  z_stream z_{};
  bool ok_ = false;
};

}  // namespace

std::uint32_t le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool looks_gzipped(std::string_view head) {
  return head.size() >= 3 && static_cast<unsigned char>(head[0]) == 0x1f && static_cast<unsigned char>(head[1]) == 0x8b &&
         head[2] == 8;
}

Result<GzipHeader> parse_gzip_header(std::string_view head, const std::string& name) {
  const auto* p = reinterpret_cast<const unsigned char*>(head.data());
  if (head.size() < 10) return corrupt(name, "头部不完整");
  if (!looks_gzipped(head)) return corrupt(name, "开头不是 gzip 标记");
  const unsigned char flags = p[3];
  if ((flags & ~(kFlagText | kFlagHcrc | kFlagExtra | kFlagName | kFlagComment)) != 0) return corrupt(name, "头部有未知标志");
  GzipHeader header;
  std::size_t pos = 10;
  if (flags & kFlagExtra) {
    if (head.size() < pos + 2) return corrupt(name, "扩展字段不完整");
    const std::size_t xlen = static_cast<std::size_t>(p[pos]) | static_cast<std::size_t>(p[pos + 1]) << 8;
    pos += 2;
    if (head.size() - pos < xlen) return corrupt(name, "扩展字段不完整");
    header.extra.assign(head.substr(pos, xlen));
    pos += xlen;
  }
  for (const unsigned char flag : {kFlagName, kFlagComment}) {
    if ((flags & flag) == 0) continue;
    const auto end = head.find('\0', pos);
    if (end == std::string_view::npos) return corrupt(name, flag == kFlagName ? "文件名字段没有结尾" : "注释字段没有结尾");
    pos = end + 1;
  }
  if (flags & kFlagHcrc) pos += 2;
  if (pos > head.size()) return corrupt(name, "头部不完整");
  header.data_start = pos;
  return header;
}

Result<std::string> gunzip_all(std::string_view compressed, const std::string& name, std::uint64_t limit) {
  std::string out;
  std::size_t consumed = 0;
  std::vector<unsigned char> buffer(1 << 16);
  while (consumed < compressed.size()) {
    // Members follow each other; each is checked by zlib (CRC-32 and length in its trailer).
    Inflater inflater(16 + MAX_WBITS);
    if (!inflater.ok()) return common::failure("zlib 无法初始化");
    z_stream& z = inflater.z();
    const std::string_view rest = compressed.substr(consumed);
    if (!looks_gzipped(rest)) return corrupt(name, consumed == 0 ? "开头不是 gzip 标记" : "末尾有多余的数据");
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(rest.data()));
    z.avail_in = static_cast<uInt>(std::min<std::size_t>(rest.size(), 1u << 30));
    int status = Z_OK;
    while (status != Z_STREAM_END) {
      z.next_out = buffer.data();
      z.avail_out = static_cast<uInt>(buffer.size());
      status = inflate(&z, Z_NO_FLUSH);
      if (status == Z_DATA_ERROR) return corrupt(name, z.msg != nullptr ? z.msg : "压缩数据损坏");
      if (status == Z_BUF_ERROR || (status == Z_OK && z.avail_in == 0 && z.avail_out != 0)) {
        return common::failure(name + " 被截断：压缩数据没有结尾");
      }
      if (status != Z_OK && status != Z_STREAM_END) return corrupt(name, "压缩数据损坏");
      out.append(reinterpret_cast<const char*>(buffer.data()), buffer.size() - z.avail_out);
      if (out.size() > limit) return common::failure(name + " 解压后超过 " + std::to_string(limit) + " 字节，不读");
    }
    consumed += rest.size() - z.avail_in;
  }
  if (compressed.empty()) return corrupt(name, "文件是空的");
  return out;
}

std::string gunzip_prefix(std::string_view compressed, std::size_t most) {
  Inflater inflater(16 + MAX_WBITS);
  if (!inflater.ok() || !looks_gzipped(compressed)) return "";
  std::string out(most, '\0');
  z_stream& z = inflater.z();
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
  z.avail_in = static_cast<uInt>(std::min<std::size_t>(compressed.size(), 1u << 30));
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int status = inflate(&z, Z_SYNC_FLUSH);
  if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return "";
  out.resize(out.size() - z.avail_out);
  return out;
}

namespace {

// A plain gzip file read forward; see open_gzip_stream.
class GzipStream : public ByteSource {
 public:
  GzipStream(std::unique_ptr<ByteSource> file, std::size_t data_start, std::uint32_t crc, std::uint64_t size)
      : file_(std::move(file)), data_start_(data_start), crc_expected_(crc), size_(size) {}
  std::uint64_t size() const override { return size_; }
  const std::string& name() const override { return file_->name(); }

  Result<std::string> read(std::uint64_t offset, std::size_t length) override {
    if (offset > size_ || length > size_ - offset) return past_end(name(), offset, length, size_);
    if (offset < window_start_) {
      auto restarted = restart();
      if (!restarted) return restarted.error();
    }
    // Keep at most what is asked: drop what lies before the read, inflate until it is there.
    while (window_start_ + window_.size() < offset + length) {
      auto more = inflate_more();
      if (!more) return more.error();
      if (window_start_ + window_.size() < offset && !window_.empty()) {
        window_start_ += window_.size();
        window_.clear();
      }
    }
    if (offset > window_start_) {
      window_.erase(0, static_cast<std::size_t>(offset - window_start_));
      window_start_ = offset;
    }
    return window_.substr(0, length);
  }

  Result<void> finish() override {
    while (!ended_) {
      window_start_ += window_.size();
      window_.clear();
      auto more = inflate_more();
      if (!more) return more.error();
    }
    if (window_start_ + window_.size() != size_) return common::failure(name() + " 的长度与 gzip 结尾记录的不符");
    if (crc_ != crc_expected_) return common::failure(name() + " 的 CRC-32 校验和不符：文件已损坏");
    return {};
  }

 private:
  Result<void> restart() {
    inflater_ = std::make_unique<Inflater>(-MAX_WBITS);
    if (!inflater_->ok()) return common::failure("zlib 无法初始化");
    next_in_ = data_start_;
    window_.clear();
    window_start_ = 0;
    crc_ = static_cast<std::uint32_t>(crc32(0, nullptr, 0));
    ended_ = false;
    return {};
  }

  // Inflates one more piece onto the window.
  Result<void> inflate_more() {
    if (!inflater_) {
      auto started = restart();
      if (!started) return started;
    }
    if (ended_) return common::failure(name() + " 被截断：解压出的内容比结尾记录的短");
    z_stream& z = inflater_->z();
    if (z.avail_in == 0) {
      const std::uint64_t end = file_->size() >= 8 ? file_->size() - 8 : 0;
      if (next_in_ >= end) return common::failure(name() + " 被截断：压缩数据没有结尾");
      auto piece = file_->read(next_in_, static_cast<std::size_t>(std::min<std::uint64_t>(end - next_in_, 1 << 16)));
      if (!piece) return piece.error();
      input_ = std::move(*piece);
      next_in_ += input_.size();
      z.next_in = reinterpret_cast<Bytef*>(input_.data());
      z.avail_in = static_cast<uInt>(input_.size());
    }
    unsigned char buffer[1 << 15];
    z.next_out = buffer;
    z.avail_out = sizeof buffer;
    const int status = inflate(&z, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
      return corrupt(name(), z.msg != nullptr ? z.msg : "压缩数据损坏");
    }
    const std::size_t produced = sizeof buffer - z.avail_out;
    crc_ = static_cast<std::uint32_t>(crc32(crc_, buffer, static_cast<uInt>(produced)));
    window_.append(reinterpret_cast<const char*>(buffer), produced);
    if (window_start_ + window_.size() > size_) return common::failure(name() + " 解压出的内容比结尾记录的长");
    if (status == Z_STREAM_END) ended_ = true;
    return {};
  }

  std::unique_ptr<ByteSource> file_;
  std::size_t data_start_;
  std::uint32_t crc_expected_;
  std::uint64_t size_;
  std::unique_ptr<Inflater> inflater_;
  std::string input_;
  std::uint64_t next_in_ = 0;
  std::string window_;  // uncompressed bytes from window_start_
  std::uint64_t window_start_ = 0;
  std::uint32_t crc_ = 0;
  bool ended_ = false;
};

}  // namespace

Result<std::unique_ptr<ByteSource>> open_gzip_stream(std::unique_ptr<ByteSource> compressed) {
  const std::uint64_t file_size = compressed->size();
  auto head = compressed->read(0, static_cast<std::size_t>(std::min<std::uint64_t>(file_size, 1 << 17)));
  if (!head) return head.error();
  auto header = parse_gzip_header(*head, compressed->name());
  if (!header) return header.error();
  if (file_size < header->data_start + 8) return common::failure(compressed->name() + " 被截断：没有 gzip 结尾");
  auto trailer = compressed->read(file_size - 8, 8);
  if (!trailer) return trailer.error();
  const auto* t = reinterpret_cast<const unsigned char*>(trailer->data());
  std::unique_ptr<ByteSource> stream =
      std::make_unique<GzipStream>(std::move(compressed), header->data_start, le32(t), le32(t + 4));
  return stream;
}

}  // namespace ruvo::desktop::readers
