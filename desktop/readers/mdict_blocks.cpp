// MDict's wrapped blocks: stored, LZO1X (liblzo2) or zlib, each with the Adler-32 of its content.
#include "readers/mdict.hpp"

#include <lzo1x.h>
#include <zlib.h>

#include <mutex>

namespace ruvo::desktop::readers {
namespace {

// No block inflates by more than zlib's best ratio; anything claiming more is corrupt, and is
// refused before memory is set aside for it.
constexpr std::uint64_t kMostInflation = 1100;
constexpr std::uint64_t kBlockLimit = 512ull << 20;

std::uint32_t be32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
         static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}

bool lzo_ready() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = lzo_init() == LZO_E_OK; });
  return ready;
}

}  // namespace

Result<std::string> decode_mdict_block(std::string_view wrapped, std::uint64_t decompressed_size, const std::string& what) {
  if (wrapped.size() < 8) return common::failure(what + "被截断：不到 8 字节");
  const auto* p = reinterpret_cast<const unsigned char*>(wrapped.data());
  const std::uint32_t type = static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
                             static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
  const std::uint32_t checksum = be32(p + 4);
  const std::string_view payload = wrapped.substr(8);
  if (decompressed_size > kBlockLimit || decompressed_size > (payload.size() + 64) * kMostInflation) {
    return common::failure(what + "说解压后有 " + std::to_string(decompressed_size) + " 字节，与压缩数据不符：文件已损坏");
  }
  std::string out;
  switch (type) {
    case 0:
      if (payload.size() != decompressed_size) return common::failure(what + "的长度与记录的不符：文件已损坏");
      out.assign(payload);
      break;
    case 1: {
      if (!lzo_ready()) return common::failure("LZO 库无法初始化");
      out.assign(static_cast<std::size_t>(decompressed_size), '\0');
      lzo_uint produced = out.size();
      const int status = lzo1x_decompress_safe(reinterpret_cast<const lzo_bytep>(payload.data()), payload.size(),
                                               reinterpret_cast<lzo_bytep>(out.data()), &produced, nullptr);
      if (status != LZO_E_OK || produced != decompressed_size) {
        return common::failure(what + "无法解压（LZO 数据损坏或被截断）");
      }
      break;
    }
    case 2: {
      out.assign(static_cast<std::size_t>(decompressed_size), '\0');
      z_stream z{};
      if (inflateInit(&z) != Z_OK) return common::failure("zlib 无法初始化");
      z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(payload.data()));
      z.avail_in = static_cast<uInt>(payload.size());
      z.next_out = reinterpret_cast<Bytef*>(out.data());
      z.avail_out = static_cast<uInt>(out.size());
      const int status = inflate(&z, Z_FINISH);
      const std::size_t produced = out.size() - z.avail_out;
      inflateEnd(&z);
      if (status != Z_STREAM_END || produced != decompressed_size) {
        return common::failure(what + "无法解压（zlib 数据损坏、被截断或长度不符）");
      }
      break;
    }
    default: return common::failure(what + "的压缩方式 " + std::to_string(type) + " 不认识");
  }
  const auto computed = static_cast<std::uint32_t>(
      adler32(adler32(0, nullptr, 0), reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size())));
  if (computed != checksum) return common::failure(what + "的校验和（Adler-32）不符：文件已损坏");
  return out;
}

}  // namespace ruvo::desktop::readers
