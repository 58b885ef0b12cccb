// StarDict's .ifo, .idx and .syn files.
#include "readers/stardict.hpp"

#include "common/utf8.hpp"

#include <charconv>
#include <map>

namespace ruvo::desktop::readers {
namespace {

std::optional<std::uint64_t> decimal(std::string_view text) {
  std::uint64_t value = 0;
  if (text.empty()) return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string_view trim_blanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::uint64_t be(const unsigned char* p, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = value << 8 | p[i];
  return value;
}

// A NUL-terminated word at `pos`: its end, or npos when there is no NUL.
std::size_t word_end(std::string_view bytes, std::size_t pos) { return bytes.find('\0', pos); }

}  // namespace

Result<IfoInfo> parse_ifo(std::string_view text, const std::string& file) {
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  if (!common::is_valid_utf8(text)) return common::failure(file + " 不是有效的 UTF-8 文本");
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = pos;
    while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
    lines.push_back(text.substr(pos, end - pos));
    pos = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
  }
  if (lines.empty() || lines[0] != kIfoMagic) {
    return common::failure(file + " 的第一行不是“" + std::string(kIfoMagic) + "”：不是 StarDict 的 .ifo 文件");
  }
  std::map<std::string, std::string> values;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = trim_blanks(lines[i]);
    if (line.empty()) continue;
    const auto equals = line.find('=');
    if (equals == std::string_view::npos) {
      return common::failure(file + " 第 " + std::to_string(i + 1) + " 行不是“键=值”的形式");
    }
    values[std::string(trim_blanks(line.substr(0, equals)))] = std::string(trim_blanks(line.substr(equals + 1)));
  }
  IfoInfo info;
  auto take = [&](const char* key) -> std::string {
    const auto found = values.find(key);
    return found == values.end() ? "" : found->second;
  };
  info.version = take("version");
  if (info.version != "2.4.2" && info.version != "3.0.0") {
    return common::failure(file + " 的 version 是“" + info.version + "”，只认 2.4.2 和 3.0.0");
  }
  info.bookname = take("bookname");
  if (info.bookname.empty()) return common::failure(file + " 缺少 bookname");
  for (const auto& [key, target] : {std::pair<const char*, std::uint64_t*>{"wordcount", &info.wordcount},
                                   std::pair<const char*, std::uint64_t*>{"idxfilesize", &info.idxfilesize}}) {
    if (values.count(key) == 0) return common::failure(file + " 缺少 " + key);
    const auto number = decimal(values[key]);
    if (!number) return common::failure(file + " 的 " + key + "“" + values[key] + "”不是数字");
    *target = *number;
  }
  if (values.count("synwordcount") != 0) {
    const auto number = decimal(values["synwordcount"]);
    if (!number) return common::failure(file + " 的 synwordcount“" + values["synwordcount"] + "”不是数字");
    info.synwordcount = *number;
  }
  if (values.count("idxoffsetbits") != 0) {
    const std::string bits = values["idxoffsetbits"];
    if (bits != "32" && bits != "64") return common::failure(file + " 的 idxoffsetbits 是“" + bits + "”，只能是 32 或 64");
    if (bits == "64" && info.version != "3.0.0") return common::failure(file + " 用了 idxoffsetbits=64，但 version 不是 3.0.0");
    info.idxoffsetbits = bits == "64" ? 64 : 32;
  }
  info.sametypesequence = take("sametypesequence");
  info.author = take("author");
  info.email = take("email");
  info.website = take("website");
  info.description = take("description");
  info.date = take("date");
  info.dicttype = take("dicttype");
  return info;
}

Result<std::vector<IdxRecord>> parse_idx(std::string_view bytes, int offset_bits, std::uint64_t wordcount,
                                         const std::string& file) {
  const int offset_bytes = offset_bits / 8;
  std::vector<IdxRecord> records;
  records.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(wordcount, bytes.size() / (offset_bytes + 5) + 1)));
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::string number = std::to_string(records.size() + 1);
    const auto end = word_end(bytes, pos);
    if (end == std::string_view::npos || bytes.size() - end - 1 < static_cast<std::size_t>(offset_bytes + 4)) {
      return common::failure(file + " 被截断：第 " + number + " 条记录不完整");
    }
    IdxRecord record;
    record.word = std::string(bytes.substr(pos, end - pos));
    if (!common::is_valid_utf8(record.word)) return common::failure(file + " 第 " + number + " 条的词头不是有效的 UTF-8 文本");
    if (common::is_blank(record.word)) return common::failure(file + " 第 " + number + " 条的词头是空的");
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + end + 1);
    record.offset = be(p, offset_bytes);
    record.size = static_cast<std::uint32_t>(be(p + offset_bytes, 4));
    records.push_back(std::move(record));
    pos = end + 1 + offset_bytes + 4;
  }
  if (records.size() != wordcount) {
    return common::failure(file + " 有 " + std::to_string(records.size()) + " 条记录，但 .ifo 的 wordcount 是 " +
                           std::to_string(wordcount));
  }
  return records;
}

Result<std::vector<SynRecord>> parse_syn(std::string_view bytes, std::uint64_t synwordcount, std::uint64_t wordcount,
                                         const std::string& file) {
  std::vector<SynRecord> records;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    const std::string number = std::to_string(records.size() + 1);
    const auto end = word_end(bytes, pos);
    if (end == std::string_view::npos || bytes.size() - end - 1 < 4) {
      return common::failure(file + " 被截断：第 " + number + " 条记录不完整");
    }
    SynRecord record;
    record.word = std::string(bytes.substr(pos, end - pos));
    if (!common::is_valid_utf8(record.word)) return common::failure(file + " 第 " + number + " 条的同义词不是有效的 UTF-8 文本");
    record.index = static_cast<std::uint32_t>(be(reinterpret_cast<const unsigned char*>(bytes.data() + end + 1), 4));
    if (record.index >= wordcount) {
      return common::failure(file + " 第 " + number + " 条指向第 " + std::to_string(record.index) + " 个词头，但只有 " +
                             std::to_string(wordcount) + " 个");
    }
    records.push_back(std::move(record));
    pos = end + 5;
  }
  if (records.size() != synwordcount) {
    return common::failure(file + " 有 " + std::to_string(records.size()) + " 条记录，但 .ifo 的 synwordcount 是 " +
                           std::to_string(synwordcount));
  }
  return records;
}

}  // namespace ruvo::desktop::readers
