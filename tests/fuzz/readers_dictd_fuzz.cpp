// The dictd reader on any index and articles' file: the input is the index text, a NUL, then the
// .dict bytes (or a dictzip/gzip file of them). Never a crash; every article it hands out is sound.
#include "common/utf8.hpp"
#include "readers/dictd.hpp"
#include "readers/dictzip.hpp"
#include "readers/gzip.hpp"

#include <cstdint>
#include <memory>
#include <string>

using namespace ruvo::desktop::readers;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const auto nul = input.find('\0');
  const std::string index = input.substr(0, nul);
  std::string dict = nul == std::string::npos ? "" : input.substr(nul + 1);
  std::unique_ptr<ByteSource> bytes = std::make_unique<MemoryBytes>(dict, "fuzz.dict");
  if (looks_gzipped(dict)) {
    auto opened = open_compressed(std::move(bytes));
    if (!opened) return 0;
    bytes = std::move(*opened);
  }
  DictionaryMeta meta;
  auto done = read_dictd_database(index, "fuzz.index", *bytes, meta, [](Article&& article) -> Result<void> {
    if (article.headword.empty() || article.text.empty()) __builtin_trap();
    if (!ruvo::common::is_valid_utf8(article.headword) || !ruvo::common::is_valid_utf8(article.text) ||
        !ruvo::common::is_valid_utf8(article.html)) {
      __builtin_trap();
    }
    return {};
  });
  if (!done && done.error().message.empty()) __builtin_trap();
  (void)decode_dictd_number(index.substr(0, 16));
  return 0;
}
