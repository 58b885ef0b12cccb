// The StarDict reader on any files: three little-endian u32 lengths (the .ifo, the .idx, the .syn;
// 0xffffffff for no .syn), those files, then the .dict. Never a crash; what it hands out is sound.
#include "common/utf8.hpp"
#include "readers/stardict.hpp"

#include <cstdint>
#include <optional>
#include <string>

using namespace ruvo::desktop::readers;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 12) return 0;
  auto length = [&](std::size_t at) {
    return static_cast<std::uint32_t>(data[at]) | static_cast<std::uint32_t>(data[at + 1]) << 8 |
           static_cast<std::uint32_t>(data[at + 2]) << 16 | static_cast<std::uint32_t>(data[at + 3]) << 24;
  };
  const std::string input(reinterpret_cast<const char*>(data + 12), size - 12);
  std::size_t at = 0;
  auto take = [&](std::uint32_t n) {
    const std::string part = input.substr(std::min(at, input.size()), n);
    at += part.size();
    return part;
  };
  const std::string ifo = take(length(0));
  const std::string idx = take(length(4));
  std::optional<std::string> syn;
  if (length(8) != 0xffffffffu) syn = take(length(8));
  MemoryBytes dict(input.substr(std::min(at, input.size())), "fuzz.dict");
  DictionaryMeta meta;
  auto done = read_stardict_parts(ifo, "fuzz.ifo", idx, "fuzz.idx", syn, "fuzz.syn", dict, meta,
                                  [](Article&& article) -> Result<void> {
                                    if (article.headword.empty() || article.text.empty()) __builtin_trap();
                                    for (const auto& alias : article.aliases) {
                                      if (alias.empty() || alias == article.headword) __builtin_trap();
                                    }
                                    if (!ruvo::common::is_valid_utf8(article.text)) __builtin_trap();
                                    return {};
                                  });
  if (!done && done.error().message.empty()) __builtin_trap();
  // The fields of the same bytes, under a sequence taken from the .ifo part.
  const std::string sequence = ifo.substr(0, std::min<std::size_t>(ifo.size(), 3));
  auto fields = parse_stardict_fields(input, sequence, "fuzz");
  if (fields) (void)stardict_article(*fields, "fuzz");
  return 0;
}
