// The CC-CEDICT reader and the pinyin converter on any text. Never a crash; pinyin of valid UTF-8
// stays valid UTF-8.
#include "common/utf8.hpp"
#include "readers/cedict.hpp"

#include <cstdint>
#include <string>

using namespace ruvo::desktop::readers;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  DictionaryMeta meta;
  auto done = read_cedict_text(text, "fuzz.u8", meta, [](Article&& article) -> Result<void> {
    if (article.headword.empty() || article.senses.empty() || article.lang != "en") __builtin_trap();
    if (!ruvo::common::is_valid_utf8(article.phonetic)) __builtin_trap();
    return {};
  });
  if (!done && done.error().message.empty()) __builtin_trap();
  (void)looks_like_cedict(text);
  const std::string pinyin = pinyin_with_tone_marks(text);
  if (ruvo::common::is_valid_utf8(text) && !ruvo::common::is_valid_utf8(pinyin)) __builtin_trap();
  return 0;
}
