// iconv conversions to UTF-8 for dictionary text.
#include "readers/encoding.hpp"

#include "common/utf8.hpp"

#include <iconv.h>

#include <cerrno>

namespace ruvo::desktop::readers {
namespace {

std::string squeezed(std::string_view name) {
  std::string out;
  for (const char c : name) {
    if (c == '-' || c == '_' || c == ' ') continue;
    out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  }
  return out;
}

const char* iconv_name(Charset charset) {
  switch (charset) {
    case Charset::kUtf16Le: return "UTF-16LE";
    case Charset::kGbk: return "GB18030";
    case Charset::kBig5: return "BIG5";
    case Charset::kUtf8: break;
  }
  return "UTF-8";
}

}  // namespace

std::optional<Charset> charset_from_name(std::string_view name) {
  const std::string n = squeezed(name);
  if (n.empty() || n == "UTF8") return Charset::kUtf8;
  if (n == "UTF16" || n == "UTF16LE") return Charset::kUtf16Le;
  if (n == "GBK" || n == "GB2312" || n == "GB18030" || n == "CP936" || n == "EUCCN") return Charset::kGbk;
  if (n == "BIG5" || n == "CP950") return Charset::kBig5;
  return std::nullopt;
}

Decoder::Decoder(Charset charset) : charset_(charset) {}

Decoder::~Decoder() {
  if (conversion_ != nullptr) iconv_close(static_cast<iconv_t>(conversion_));
}

std::optional<std::string> Decoder::decode(std::string_view bytes) {
  if (charset_ == Charset::kUtf8) {
    if (!common::is_valid_utf8(bytes)) return std::nullopt;
    return std::string(bytes);
  }
  if (failed_) return std::nullopt;
  if (conversion_ == nullptr) {
    const iconv_t opened = iconv_open("UTF-8", iconv_name(charset_));
    if (opened == reinterpret_cast<iconv_t>(-1)) {
      failed_ = true;
      return std::nullopt;
    }
    conversion_ = opened;
  }
  const auto conversion = static_cast<iconv_t>(conversion_);
  iconv(conversion, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
  std::string out;
  out.resize(bytes.size() * 2 + 16);
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  std::size_t written = 0;
  while (in_left > 0) {
    char* out_at = out.data() + written;
    std::size_t out_left = out.size() - written;
    const std::size_t status = iconv(conversion, &in, &in_left, &out_at, &out_left);
    written = out.size() - out_left;
    if (status != static_cast<std::size_t>(-1)) break;
    if (errno != E2BIG) return std::nullopt;  // an invalid or incomplete sequence
    out.resize(out.size() * 2);
  }
  out.resize(written);
  // iconv passes some sequences it cannot map as they are; what comes out must still be UTF-8.
  if (!common::is_valid_utf8(out)) return std::nullopt;
  return out;
}

}  // namespace ruvo::desktop::readers
