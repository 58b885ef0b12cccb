// CC-CEDICT lines, header and the reading of a whole file.
#include "readers/cedict.hpp"

#include "common/utf8.hpp"
#include "readers/byte_source.hpp"
#include "readers/markup_text.hpp"
#include "readers/read_support.hpp"

#include <charconv>

namespace ruvo::desktop::readers {
namespace {

// The 2019 file is 9 MB; a future one with ten times the entries still fits.
constexpr std::uint64_t kCedictLimit = 256ull << 20;

std::string where(const std::string& file, std::size_t line) { return file + " 第 " + std::to_string(line) + " 行"; }

// Calls `line_of` with each line (without its line end) and its number from 1, until it fails.
template <typename F>
Result<void> each_line(std::string_view text, F&& line_of) {
  std::size_t pos = 0;
  std::size_t number = 0;
  while (pos < text.size()) {
    auto end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++number;
    pos = end + 1;
    auto done = line_of(line, number);
    if (!done) return done;
  }
  return {};
}

}  // namespace

Result<CedictEntry> parse_cedict_line(std::string_view line, std::size_t line_number, const std::string& file) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const std::string at = where(file, line_number);
  if (!common::is_valid_utf8(line)) return common::failure(at + "不是有效的 UTF-8 文本");
  auto malformed = [&](const char* what) {
    return common::failure(at + "格式不对（" + std::string(what) + "）：应为“繁体 简体 [pin1 yin1] /释义/释义/”");
  };
  CedictEntry entry;
  const auto first_space = line.find(' ');
  if (first_space == 0 || first_space == std::string_view::npos) return malformed("缺少简体词头");
  entry.traditional = std::string(line.substr(0, first_space));
  const auto second_space = line.find(' ', first_space + 1);
  if (second_space == std::string_view::npos || second_space == first_space + 1) return malformed("缺少简体词头");
  entry.simplified = std::string(line.substr(first_space + 1, second_space - first_space - 1));
  std::string_view rest = line.substr(second_space + 1);
  bool any_pinyin = false;
  // [pin1 yin1], or the joined [[Pin1yin1]] form, or both one after the other.
  while (!rest.empty() && rest.front() == '[') {
    const bool joined = rest.size() > 1 && rest[1] == '[';
    const auto close = rest.find(joined ? "]]" : "]");
    if (close == std::string_view::npos) return malformed("拼音缺少右方括号");
    const std::string_view pinyin = rest.substr(joined ? 2 : 1, close - (joined ? 2 : 1));
    if (!joined || !any_pinyin) entry.pinyin = std::string(pinyin);  // [...] wins over [[...]]
    any_pinyin = true;
    rest = rest.substr(close + (joined ? 2 : 1));
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  }
  if (!any_pinyin) return malformed("缺少方括号里的拼音");
  while (!rest.empty() && (rest.back() == ' ' || rest.back() == '\t')) rest.remove_suffix(1);
  if (rest.size() < 2 || rest.front() != '/' || rest.back() != '/') return malformed("释义应在两个斜杠之间");
  std::string_view senses = rest.substr(1, rest.size() - 2);
  std::size_t pos = 0;
  while (pos <= senses.size()) {
    auto slash = senses.find('/', pos);
    if (slash == std::string_view::npos) slash = senses.size();
    const std::string_view sense = common::trim_unicode_space(senses.substr(pos, slash - pos));
    if (!sense.empty()) entry.senses.emplace_back(sense);
    pos = slash + 1;
  }
  if (entry.senses.empty()) return malformed("没有释义");
  return entry;
}

bool looks_like_cedict(std::string_view head) {
  if (head.rfind("# CC-CEDICT", 0) == 0 || head.rfind("\xEF\xBB\xBF# CC-CEDICT", 0) == 0) return true;
  std::size_t pos = 0;
  while (pos < head.size()) {
    auto end = head.find('\n', pos);
    if (end == std::string_view::npos) return false;  // the first entry must be whole
    const std::string_view line = head.substr(pos, end - pos);
    pos = end + 1;
    if (line.empty() || line == "\r" || line.front() == '#') continue;
    return parse_cedict_line(line, 1, "").ok();
  }
  return false;
}

std::string cedict_name(std::string_view head) {
  if (head.rfind("\xEF\xBB\xBF", 0) == 0) head.remove_prefix(3);
  return head.rfind("# CC-CEDICT", 0) == 0 ? "CC-CEDICT" : "";
}

Result<void> read_cedict_text(std::string_view text, const std::string& file, DictionaryMeta& meta,
                              const ArticleSink& each) {
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.remove_prefix(3);
  const std::string name = cedict_name(text);
  if (!name.empty()) meta.name = name;
  std::string comments;
  std::string metadata;
  std::string license;
  bool entries_seen = false;
  std::size_t count = 0;
  auto done = each_line(text, [&](std::string_view line, std::size_t number) -> Result<void> {
    if (common::is_blank(line)) return {};
    if (line.front() == '#') {
      if (entries_seen) return {};  // a comment among the entries
      if (line.rfind("#!", 0) == 0) {
        const std::string_view pair = common::trim_unicode_space(line.substr(2));
        if (!common::is_valid_utf8(pair)) return common::failure(where(file, number) + "不是有效的 UTF-8 文本");
        metadata += std::string(pair) + "\n";
        const auto equals = pair.find('=');
        if (equals != std::string_view::npos) {
          const std::string_view key = pair.substr(0, equals);
          const std::string_view value = pair.substr(equals + 1);
          if (key == "entries") {
            std::uint64_t n = 0;
            const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), n);
            if (error == std::errc() && end == value.data() + value.size()) meta.declared_entries = n;
          } else if (key == "license") {
            license = std::string(value);
          }
        }
      } else {
        std::string_view said = line.substr(1);
        if (!said.empty() && said.front() == ' ') said.remove_prefix(1);
        if (!common::is_valid_utf8(said)) return common::failure(where(file, number) + "不是有效的 UTF-8 文本");
        comments += std::string(said) + "\n";
      }
      return {};
    }
    entries_seen = true;
    auto entry = parse_cedict_line(line, number, file);
    if (!entry) return entry.error();
    Article article;
    article.headword = entry->simplified;
    if (entry->traditional != entry->simplified) article.aliases.push_back(entry->traditional);
    article.phonetic = pinyin_with_tone_marks(entry->pinyin);
    for (std::size_t i = 0; i < entry->senses.size(); ++i) article.text += (i == 0 ? "" : "\n") + entry->senses[i];
    article.senses = std::move(entry->senses);
    article.lang = "en";
    finish_article(article);
    ++count;
    return each(std::move(article));
  });
  if (!done) return done;
  if (count == 0) return common::failure(file + " 里没有词条");
  meta.info = tidy_text(comments + "\n" + metadata);
  // The address the header gives for the dictionary itself: the first one that is not the licence's.
  for (std::size_t pos = comments.find("http"); pos != std::string::npos; pos = comments.find("http", pos + 1)) {
    auto end = comments.find_first_of(" \n", pos);
    const std::string url = comments.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    if (url.rfind("http://", 0) != 0 && url.rfind("https://", 0) != 0) continue;
    if (url == license) continue;
    meta.url = url;
    break;
  }
  return {};
}

Result<DictionaryMeta> read_cedict(const Found& found, const ArticleSink& each) {
  DictionaryMeta meta;
  meta.format = Format::kCedict;
  meta.path = found.path;
  meta.name = found.name.empty() ? file_name_of(found.path) : found.name;
  auto text = read_whole_file(found.path, kCedictLimit);
  if (!text) return text.error();
  auto done = read_cedict_text(*text, file_name_of(found.path), meta, each);
  if (!done) return done.error();
  return meta;
}

}  // namespace ruvo::desktop::readers
