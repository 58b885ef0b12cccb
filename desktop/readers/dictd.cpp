// dictd's index and the reading of a whole database.
#include "readers/dictd.hpp"

#include "common/utf8.hpp"
#include "readers/read_support.hpp"

#include <algorithm>
#include <map>

namespace ruvo::desktop::readers {
namespace {

// An index is a few hundred kilobytes for the largest Debian databases.
constexpr std::uint64_t kIndexLimit = 512ull << 20;

int digit_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::string line_prefix(const std::string& file, std::size_t line) {
  return file + " 第 " + std::to_string(line) + " 行";
}

// The metadata key without dashes in lower case ("databaseshort" of "00-database-short").
std::string metadata_key(std::string_view headword) {
  std::string key;
  for (const char c : headword.substr(2)) {
    if (c != '-') key += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  }
  return key;
}

}  // namespace

std::optional<std::uint64_t> decode_dictd_number(std::string_view digits) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : digits) {
    const int digit = digit_value(c);
    if (digit < 0 || value > (UINT64_MAX >> 6)) return std::nullopt;
    value = value << 6 | static_cast<std::uint64_t>(digit);
  }
  return value;
}

Result<DictdIndexLine> parse_dictd_index_line(std::string_view line, std::size_t line_number, const std::string& file) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const std::string where = line_prefix(file, line_number);
  if (!common::is_valid_utf8(line)) return common::failure(where + "不是有效的 UTF-8 文本");
  std::vector<std::string_view> columns;
  std::size_t start = 0;
  while (true) {
    const auto tab = line.find('\t', start);
    columns.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
    if (tab == std::string_view::npos) break;
    start = tab + 1;
  }
  if (columns.size() < 3 || columns.size() > 4) {
    return common::failure(where + "格式不对：应为“词头<TAB>偏移<TAB>长度”，这一行有 " + std::to_string(columns.size()) + " 栏");
  }
  DictdIndexLine out;
  out.line = line_number;
  out.headword = std::string(common::trim_unicode_space(columns[0]));
  if (out.headword.empty()) return common::failure(where + "的词头是空的");
  const auto offset = decode_dictd_number(columns[1]);
  if (!offset) return common::failure(where + "的偏移量“" + std::string(columns[1]) + "”不是 base64 数字");
  const auto length = decode_dictd_number(columns[2]);
  if (!length) return common::failure(where + "的长度“" + std::string(columns[2]) + "”不是 base64 数字");
  out.offset = *offset;
  out.length = *length;
  if (columns.size() == 4) out.spelling = std::string(common::trim_unicode_space(columns[3]));
  return out;
}

Result<std::vector<DictdIndexLine>> parse_dictd_index(std::string_view text, const std::string& file) {
  std::vector<DictdIndexLine> lines;
  std::size_t number = 0;
  std::size_t pos = 0;
  std::size_t blank_at = 0;  // the first blank line, while only blank lines follow it
  while (pos < text.size()) {
    auto end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view line = text.substr(pos, end - pos);
    ++number;
    pos = end + 1;
    if (line.empty() || line == "\r") {
      if (blank_at == 0) blank_at = number;
      continue;
    }
    if (blank_at != 0) return common::failure(line_prefix(file, blank_at) + "是空行");
    auto parsed = parse_dictd_index_line(line, number, file);
    if (!parsed) return parsed.error();
    lines.push_back(std::move(*parsed));
  }
  return lines;
}

bool is_dictd_metadata(std::string_view headword) {
  return headword.size() > 10 && headword.substr(0, 2) == "00" && metadata_key(headword).rfind("database", 0) == 0;
}

Result<void> read_dictd_database(std::string_view index_text, const std::string& index_name, ByteSource& dict,
                                 DictionaryMeta& meta, const ArticleSink& each) {
  auto parsed = parse_dictd_index(index_text, index_name);
  if (!parsed) return parsed.error();
  const std::vector<DictdIndexLine>& lines = *parsed;
  if (lines.empty()) return common::failure(index_name + " 里没有词条");
  // Every line must point inside the articles' file before anything is read.
  for (const auto& line : lines) {
    if (line.offset > dict.size() || line.length > dict.size() - line.offset) {
      return common::failure(line_prefix(index_name, line.line) + "指向 " + dict.name() + " 的末尾之外（偏移 " +
                             std::to_string(line.offset) + "，长度 " + std::to_string(line.length) + "，文件只有 " +
                             std::to_string(dict.size()) + " 字节）");
    }
  }
  // The metadata first: its articles are short and near the start.
  for (const auto& line : lines) {
    if (!is_dictd_metadata(line.headword)) continue;
    const std::string key = metadata_key(line.headword);
    if (key != "databaseshort" && key != "databaseinfo" && key != "databaseurl") continue;
    auto raw = dict.read(line.offset, static_cast<std::size_t>(line.length));
    if (!raw) return raw.error();
    if (!common::is_valid_utf8(*raw)) return common::failure(dict.name() + " 中“" + line.headword + "”的内容不是有效的 UTF-8 文本");
    if (key == "databaseshort") {
      const std::string name = dictd_short_name(*raw);
      if (!name.empty()) meta.name = name;
    } else if (key == "databaseinfo") {
      meta.info = dictd_info_text(*raw);
    } else {
      meta.url = std::string(common::trim_unicode_space(dictd_short_name(*raw)));
    }
  }
  // One article per stored text: the lines that point at the same bytes are its names.
  struct Group {
    std::uint64_t offset;
    std::uint64_t length;
    std::vector<const DictdIndexLine*> names;
  };
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::size_t> by_place;
  std::vector<Group> groups;
  for (const auto& line : lines) {
    if (is_dictd_metadata(line.headword)) continue;
    const auto [at, added] = by_place.try_emplace({line.offset, line.length}, groups.size());
    if (added) groups.push_back({line.offset, line.length, {}});
    groups[at->second].names.push_back(&line);
  }
  std::sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) {
    return a.offset != b.offset ? a.offset < b.offset : a.length < b.length;
  });
  for (const auto& group : groups) {
    auto raw = dict.read(group.offset, static_cast<std::size_t>(group.length));
    if (!raw) return raw.error();
    if (!common::is_valid_utf8(*raw)) {
      return common::failure(dict.name() + " 中“" + group.names.front()->headword + "”（" + index_name + " 第 " +
                             std::to_string(group.names.front()->line) + " 行）的内容不是有效的 UTF-8 文本");
    }
    std::vector<std::string> names;
    for (const auto* line : group.names) names.push_back(line->spelling.empty() ? line->headword : line->spelling);
    DictdArticle cleaned = clean_dictd_article(*raw, names);
    if (cleaned.text.empty()) continue;  // nothing but its own name: nothing to tell
    Article article;
    article.headword = std::move(cleaned.headword);
    article.aliases = std::move(cleaned.aliases);
    article.text = std::move(cleaned.text);
    article.html = std::move(cleaned.html);
    article.see_also = std::move(cleaned.see_also);
    finish_article(article);
    auto taken = each(std::move(article));
    if (!taken) return taken;
  }
  return dict.finish();
}

std::optional<std::string> dictd_data_path(const std::string& index_path) {
  return first_existing(without_suffix(index_path, ".index"), {".dict", ".dict.dz", ".dict.gz"});
}

Result<std::string> dictd_name(const std::string& index_path) {
  auto index = read_whole_file(index_path, kIndexLimit);
  if (!index) return index.error();
  const auto data = dictd_data_path(index_path);
  if (!data) return common::failure(file_name_of(index_path) + " 旁边没有 .dict 或 .dict.dz 文件");
  auto dict = open_data_file(*data);
  if (!dict) return dict.error();
  std::size_t pos = 0;
  std::size_t number = 0;
  while (pos < index->size()) {
    auto end = index->find('\n', pos);
    if (end == std::string::npos) end = index->size();
    ++number;
    const std::string_view line(index->data() + pos, end - pos);
    pos = end + 1;
    if (line.rfind("00", 0) != 0) continue;
    auto parsed = parse_dictd_index_line(line, number, file_name_of(index_path));
    if (!parsed || metadata_key(parsed->headword) != "databaseshort") continue;
    auto raw = (*dict)->read(parsed->offset, static_cast<std::size_t>(parsed->length));
    if (!raw) return raw.error();
    return dictd_short_name(common::to_valid_utf8(*raw));
  }
  return std::string();
}

Result<DictionaryMeta> read_dictd(const Found& found, const ArticleSink& each) {
  DictionaryMeta meta;
  meta.format = Format::kDictd;
  meta.path = found.path;
  meta.name = file_name_of(without_suffix(found.path, ".index"));
  auto index = read_whole_file(found.path, kIndexLimit);
  if (!index) return index.error();
  const auto data = dictd_data_path(found.path);
  if (!data) return common::failure(file_name_of(found.path) + " 旁边没有 .dict 或 .dict.dz 文件");
  auto dict = open_data_file(*data);
  if (!dict) return dict.error();
  auto done = read_dictd_database(*index, file_name_of(found.path), **dict, meta, each);
  if (!done) return done.error();
  return meta;
}

}  // namespace ruvo::desktop::readers
