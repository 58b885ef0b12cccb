// The files a dictionary travels in: JSON Lines, one entry an object, which
// an export writes and an import reads back whole; and CSV or TSV with a
// header row, the way glossaries come out of spreadsheets.
#pragma once

#include "common/json.hpp"
#include "common/result.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::store {

using common::JsonValue;
using common::Result;

enum class TermFileFormat { kJsonLines, kCsv, kTsv };

// "jsonl", "csv" or "tsv"; nothing else.
std::optional<TermFileFormat> term_file_format(std::string_view name);

// The format a file name suggests: .csv, .tsv (or .tab), else JSON Lines.
TermFileFormat format_of_path(std::string_view path);

// One entry as it travels. Times are seconds since 1970; 0 when the file
// gave none (the store then uses the time of the import).
struct TermRecord {
  std::string term;
  std::string lang = "zh";
  JsonValue fields = JsonValue::object();  // strings only, the three known ones under their keys
  std::vector<std::string> aliases;
  std::string source = "user";
  std::int64_t created_at = 0;
  std::int64_t updated_at = 0;
};

// The line of an export: {"aliases","createdAt","fields","lang","source",
// "term","updatedAt"}, times in UTC as "2026-12-10T21:40:00Z".
std::string to_json_line(const TermRecord& record);

// Reads one line of a JSON Lines file; the error says what is wrong, without
// the line number (the caller knows it).
Result<TermRecord> parse_json_line(std::string_view line);

// Reads a whole file's text in the given format, handing each entry with the
// number of its line (JSON Lines) or row (CSV, TSV: the header is row 1) to
// `each`. A byte-order mark at the start is skipped, and so are blank lines
// of JSON Lines. Stops at the first malformed
// line, whose number starts the error's message ("第 500 行：…") and whose
// kind is kBadImport, or at the first error `each` returns, passed on as it
// is.
Result<void> read_term_file(std::string_view text, TermFileFormat format,
                            const std::function<Result<void>(TermRecord, std::size_t)>& each);

// The times a file may give, 1970-01-01T00:00:00Z to 9999-12-31T23:59:59Z:
// those utc_timestamp writes in its form, so every export reads back the
// same. A line with a time outside them is refused.
inline constexpr std::int64_t kEarliestTime = 0;
inline constexpr std::int64_t kLatestTime = 253402300799;

// Seconds since 1970 as "YYYY-MM-DDTHH:MM:SSZ" (a time outside kEarliestTime
// … kLatestTime as the nearer of them), and back (also accepting a whole
// number of seconds that fits 64 bits); nothing for any other form.
std::string utc_timestamp(std::int64_t seconds);
std::optional<std::int64_t> parse_utc_timestamp(const JsonValue& value);

}  // namespace ruvo::desktop::store
