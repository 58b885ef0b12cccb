// Text in the encodings dictionary files use, turned into UTF-8 through iconv: UTF-8 itself
// (checked), UTF-16 little-endian, GBK (read as its superset GB18030) and Big5.
#pragma once

#include "common/result.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace ruvo::desktop::readers {

using common::Result;

enum class Charset { kUtf8, kUtf16Le, kGbk, kBig5 };

// The charset an encoding name stands for, spelled as files spell it: "UTF-8"/"UTF8"/"" (UTF-8),
// "UTF-16"/"UTF16"/"UTF-16LE", "GBK"/"GB2312"/"GB18030"/"CP936", "BIG5"/"Big5"/"CP950", case and
// dashes ignored. Nothing for any other name.
std::optional<Charset> charset_from_name(std::string_view name);

// Bytes per code unit: 2 for UTF-16, 1 otherwise.
inline std::size_t code_unit_size(Charset charset) { return charset == Charset::kUtf16Le ? 2 : 1; }

// Converts text to UTF-8, reusing one iconv conversion for every call.
class Decoder {
 public:
  explicit Decoder(Charset charset);
  ~Decoder();
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // The text as UTF-8; nothing when it is not valid in the charset (or iconv lacks the charset).
  std::optional<std::string> decode(std::string_view bytes);

 private:
  Charset charset_;
  void* conversion_ = nullptr;  // iconv_t, opened on first use
  bool failed_ = false;
};

}  // namespace ruvo::desktop::readers
