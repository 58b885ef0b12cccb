#include "store/term_file.hpp"

#include "common/utf8.hpp"
#include "store/entry_rules.hpp"
#include "store/store.hpp"

#include <csv.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <limits>
#include <set>

namespace ruvo::desktop::store {

namespace {

using common::failure;

// A fault of the file being read, not of whatever it is read into.
common::Error bad_file(std::string message) { return failure(common::ErrorKind::kBadImport, std::move(message)); }

bool ends_with(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && common::ascii_lower(text.substr(text.size() - tail.size())) == tail;
}

Result<std::string> checked_source(std::string_view source) {
  for (auto known : {kSourceUser, kSourceGlossary, kSourceModel}) {
    if (source == known) return std::string(source);
  }
  return failure("不认识的 source「" + std::string(source) + "」，可选：user、glossary、model");
}

const std::string* string_member(const JsonValue& object, const char* key) {
  auto it = object.find(key);
  if (it == object.end() || !it->is_string()) return nullptr;
  return &it->get_ref<const std::string&>();
}

// Aliases in a table cell: separated by ";", "；", "|" or "、".
JsonValue split_aliases(std::string_view cell) {
  JsonValue out = JsonValue::array();
  std::string current;
  auto flush = [&] {
    if (!common::is_blank(current)) out.push_back(current);
    current.clear();
  };
  for (std::size_t pos = 0; pos < cell.size();) {
    auto step = common::decode_utf8(cell, pos);
    char32_t c = step.valid ? step.scalar : 0;
    if (c == U';' || c == U'；' || c == U'|' || c == U'、') {
      flush();
    } else {
      current.append(cell.substr(pos, step.length));
    }
    pos += step.length;
  }
  flush();
  return out;
}

// A byte-order mark, which editors on Windows put at the start of a UTF-8
// file; it is not part of the first line (or header).
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

Result<void> read_json_lines(std::string_view text, const std::function<Result<void>(TermRecord, std::size_t)>& each) {
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
  std::size_t number = 0;
  while (!text.empty()) {
    ++number;
    std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (common::is_blank(line)) continue;
    auto record = parse_json_line(line);
    if (!record) return bad_file("第 " + std::to_string(number) + " 行：" + record.error().text());
    if (auto done = each(std::move(record).value(), number); !done) return done;
  }
  return {};
}

// The columns a table may have, by header name (any ASCII case).
enum Column { kTerm, kDefinition, kPlain, kExample, kAliases, kLang, kIgnored };

Column column_named(std::string_view header) {
  std::string name = common::ascii_lower(common::trim_unicode_space(header));
  if (name == "term") return kTerm;
  if (name == "definition") return kDefinition;
  if (name == "plain") return kPlain;
  if (name == "example") return kExample;
  if (name == "aliases") return kAliases;
  if (name == "lang") return kLang;
  return kIgnored;
}

// Rows of a CSV or TSV text, gathered cell by cell by the parser's callbacks.
struct TableReader {
  const std::function<Result<void>(TermRecord, std::size_t)>* each = nullptr;
  std::vector<std::string> row;
  std::vector<Column> columns;
  std::size_t number = 0;
  std::optional<common::Error> error;

  void end_row() {
    ++number;
    std::vector<std::string> cells = std::move(row);
    row.clear();
    if (error) return;
    if (number == 1) {
      std::set<Column> seen;
      for (const auto& cell : cells) {
        Column c = column_named(cell);
        if (c != kIgnored && !seen.insert(c).second) {
          error = bad_file("第 1 行：列「" + cell + "」出现了两次");
          return;
        }
        columns.push_back(c);
      }
      if (!seen.count(kTerm))
        error = bad_file("第 1 行：表头要有 term 列（可选 definition、plain、example、aliases、lang）");
      return;
    }
    bool blank = true;
    for (const auto& cell : cells) blank = blank && common::is_blank(cell);
    if (blank) return;
    if (cells.size() > columns.size()) {
      error = bad_file("第 " + std::to_string(number) + " 行：比表头多出 " +
                       std::to_string(cells.size() - columns.size()) + " 格");
      return;
    }
    JsonValue object = JsonValue::object();
    JsonValue fields = JsonValue::object();
    static constexpr std::array<const char*, 3> kFieldKeys = {"definition", "plain", "example"};
    for (std::size_t i = 0; i < cells.size(); ++i) {
      switch (columns[i]) {
        case kTerm:
          object["term"] = cells[i];
          break;
        case kDefinition:
        case kPlain:
        case kExample:
          if (!common::is_blank(cells[i])) fields[kFieldKeys[columns[i] - kDefinition]] = cells[i];
          break;
        case kAliases:
          object["aliases"] = split_aliases(cells[i]);
          break;
        case kLang:
          if (!common::is_blank(cells[i])) object["lang"] = std::string(common::trim_unicode_space(cells[i]));
          break;
        case kIgnored:
          break;
      }
    }
    object["fields"] = std::move(fields);
    auto record = parse_json_line(common::to_compact(object));
    if (!record) {
      error = bad_file("第 " + std::to_string(number) + " 行：" + record.error().text());
      return;
    }
    if (auto done = (*each)(std::move(record).value(), number); !done) error = done.error();
  }
};

Result<void> read_table(std::string_view text, unsigned char delimiter,
                        const std::function<Result<void>(TermRecord, std::size_t)>& each) {
  if (!common::is_valid_utf8(text)) return bad_file("文件不是 UTF-8 文本");
  csv_parser parser;
  if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI) != 0) return failure("无法准备 CSV 解析");
  csv_set_delim(&parser, delimiter);
  TableReader reader;
  reader.each = &each;
  auto on_cell = [](void* data, std::size_t size, void* self) {
    static_cast<TableReader*>(self)->row.emplace_back(static_cast<const char*>(data), size);
  };
  auto on_row = [](int, void* self) { static_cast<TableReader*>(self)->end_row(); };
  if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) text.remove_prefix(kByteOrderMark.size());
  std::size_t parsed = csv_parse(&parser, text.data(), text.size(), on_cell, on_row, &reader);
  bool malformed = parsed != text.size() || csv_fini(&parser, on_cell, on_row, &reader) != 0;
  csv_free(&parser);
  if (reader.error) return *reader.error;
  if (malformed) return bad_file("第 " + std::to_string(reader.number + 1) + " 行：引号没有配对");
  if (reader.number == 0) return bad_file("文件是空的：要有表头行");
  return {};
}

}  // namespace

std::optional<TermFileFormat> term_file_format(std::string_view name) {
  if (name == "jsonl") return TermFileFormat::kJsonLines;
  if (name == "csv") return TermFileFormat::kCsv;
  if (name == "tsv") return TermFileFormat::kTsv;
  return std::nullopt;
}

TermFileFormat format_of_path(std::string_view path) {
  if (ends_with(path, ".csv")) return TermFileFormat::kCsv;
  if (ends_with(path, ".tsv") || ends_with(path, ".tab")) return TermFileFormat::kTsv;
  return TermFileFormat::kJsonLines;
}

std::string to_json_line(const TermRecord& record) {
  JsonValue line = JsonValue::object();
  line["term"] = record.term;
  line["lang"] = record.lang;
  line["fields"] = record.fields;
  line["aliases"] = record.aliases;
  line["source"] = record.source;
  line["createdAt"] = utc_timestamp(record.created_at);
  line["updatedAt"] = utc_timestamp(record.updated_at);
  return common::to_compact(line);
}

Result<TermRecord> parse_json_line(std::string_view line) {
  if (line.find('\0') != std::string_view::npos) return failure("含有 NUL 字节");
  auto parsed = common::parse_json(line);
  if (!parsed) return failure("不是 JSON：" + parsed.error().text());
  if (!parsed->is_object()) return failure("每行要是一个 JSON 对象");
  const JsonValue& object = *parsed;
  TermRecord record;

  const std::string* term = string_member(object, "term");
  if (term == nullptr) return failure("term 必须是字符串");
  auto checked = checked_term(*term);
  if (!checked) return checked.error();
  record.term = std::move(checked).value();

  if (auto it = object.find("lang"); it != object.end()) {
    if (!it->is_string()) return failure("lang 必须是字符串");
    auto lang = checked_lang(it->get_ref<const std::string&>());
    if (!lang) return lang.error();
    record.lang = *lang;
  }
  if (auto it = object.find("source"); it != object.end()) {
    if (!it->is_string()) return failure("source 必须是字符串");
    auto source = checked_source(it->get_ref<const std::string&>());
    if (!source) return source.error();
    record.source = *source;
  }
  if (auto it = object.find("fields"); it != object.end()) {
    auto fields = normalize_fields(*it);
    if (!fields) return fields.error();
    record.fields = std::move(fields).value();
  }
  if (auto it = object.find("aliases"); it != object.end()) {
    auto aliases = normalize_aliases(*it, record.term);
    if (!aliases) return aliases.error();
    record.aliases = std::move(aliases).value();
  }
  for (auto [key, target] : {std::pair{"createdAt", &record.created_at}, std::pair{"updatedAt", &record.updated_at}}) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) continue;
    auto seconds = parse_utc_timestamp(*it);
    if (!seconds) return failure(std::string(key) + " 要是 UTC 时间，如 \"2026-12-10T21:40:00Z\"");
    // Only what an export can write back the same way.
    if (*seconds < kEarliestTime || *seconds > kLatestTime) {
      return failure(std::string(key) + " 要在 " + utc_timestamp(kEarliestTime) + " 到 " + utc_timestamp(kLatestTime) +
                     " 之间");
    }
    *target = *seconds;
  }
  return record;
}

Result<void> read_term_file(std::string_view text, TermFileFormat format,
                            const std::function<Result<void>(TermRecord, std::size_t)>& each) {
  switch (format) {
    case TermFileFormat::kJsonLines:
      return read_json_lines(text, each);
    case TermFileFormat::kCsv:
      return read_table(text, ',', each);
    case TermFileFormat::kTsv:
      return read_table(text, '\t', each);
  }
  return failure("不认识的格式");
}

std::string utc_timestamp(std::int64_t seconds) {
  using namespace std::chrono;
  // A store written before imports checked their times may hold one past
  // them; what is written of it still has to read back.
  const sys_seconds at{std::chrono::seconds(std::clamp(seconds, kEarliestTime, kLatestTime))};
  const auto day = floor<days>(at);
  const year_month_day date(day);
  const hh_mm_ss<std::chrono::seconds> time(at - day);
  char out[64];
  std::snprintf(out, sizeof out, "%04d-%02u-%02uT%02ld:%02ld:%02ldZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<long>(time.hours().count()), static_cast<long>(time.minutes().count()),
                static_cast<long>(time.seconds().count()));
  return out;
}

std::optional<std::int64_t> parse_utc_timestamp(const JsonValue& value) {
  if (value.is_number_unsigned()) {
    const auto seconds = value.get<std::uint64_t>();
    if (seconds > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) return std::nullopt;
    return static_cast<std::int64_t>(seconds);
  }
  if (value.is_number_integer()) return value.get<std::int64_t>();
  if (!value.is_string()) return std::nullopt;
  // Exactly the form utc_timestamp writes: digits where it writes digits,
  // so that no sign, blank or other spelling of the same time gets in.
  const auto& text = value.get_ref<const std::string&>();
  static constexpr std::string_view kForm = "dddd-dd-ddTdd:dd:ddZ";
  if (text.size() != kForm.size()) return std::nullopt;
  for (std::size_t i = 0; i < kForm.size(); ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (kForm[i] == 'd' ? !digit : text[i] != kForm[i]) return std::nullopt;
  }
  auto number = [&text](std::size_t at, std::size_t length) {
    unsigned out = 0;
    for (std::size_t i = at; i < at + length; ++i) out = out * 10 + static_cast<unsigned>(text[i] - '0');
    return out;
  };
  const int y = static_cast<int>(number(0, 4));
  const unsigned mo = number(5, 2), d = number(8, 2), h = number(11, 2), mi = number(14, 2), s = number(17, 2);
  using namespace std::chrono;
  const year_month_day date{year(y), month(mo), day(d)};
  if (!date.ok() || h > 23 || mi > 59 || s > 59) return std::nullopt;
  return duration_cast<seconds>(sys_days(date).time_since_epoch() + hours(h) + minutes(mi) + seconds(s)).count();
}

}  // namespace ruvo::desktop::store
