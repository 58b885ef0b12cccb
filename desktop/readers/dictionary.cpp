// The format names and read_dictionary's choice of reader.
#include "readers/dictionary.hpp"

#include "readers/cedict.hpp"
#include "readers/dictd.hpp"
#include "readers/mdict.hpp"
#include "readers/stardict.hpp"

namespace ruvo::desktop::readers {

std::string_view format_name(Format format) {
  switch (format) {
    case Format::kDictd: return "dictd";
    case Format::kStarDict: return "stardict";
    case Format::kMdict: return "mdict";
    case Format::kCedict: return "cedict";
  }
  return "dictd";
}

std::optional<Format> format_from_name(std::string_view name) {
  for (const Format format : {Format::kDictd, Format::kStarDict, Format::kMdict, Format::kCedict}) {
    if (format_name(format) == name) return format;
  }
  return std::nullopt;
}

Result<DictionaryMeta> read_dictionary(const Found& found, const ArticleSink& each) {
  switch (found.format) {
    case Format::kDictd: return read_dictd(found, each);
    case Format::kStarDict: return read_stardict(found, each);
    case Format::kMdict: return read_mdict(found, each);
    case Format::kCedict: return read_cedict(found, each);
  }
  return common::failure("未知的词典格式");
}

}  // namespace ruvo::desktop::readers
