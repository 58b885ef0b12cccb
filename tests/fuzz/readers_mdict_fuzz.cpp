// The MDict reader on any bytes as an .mdx file. Never a crash; what it hands out is sound.
#include "common/utf8.hpp"
#include "readers/mdict.hpp"

#include <cstdint>
#include <string>

using namespace ruvo::desktop::readers;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryBytes file(std::string(reinterpret_cast<const char*>(data), size), "fuzz.mdx");
  DictionaryMeta meta;
  auto done = read_mdict_bytes(file, meta, [](Article&& article) -> Result<void> {
    if (article.headword.empty() || article.text.empty()) __builtin_trap();
    if (!ruvo::common::is_valid_utf8(article.headword) || !ruvo::common::is_valid_utf8(article.text)) __builtin_trap();
    return {};
  });
  if (!done && done.error().message.empty()) __builtin_trap();
  return 0;
}
