#include "store/term_file.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace ruvo::desktop::store {
namespace {

struct Read {
  std::vector<TermRecord> records;
  std::vector<std::size_t> lines;
  std::string error;  // "" when the file was read whole
};

Read read(std::string_view text, TermFileFormat format) {
  Read out;
  auto done = read_term_file(text, format, [&](TermRecord record, std::size_t line) -> Result<void> {
    out.records.push_back(std::move(record));
    out.lines.push_back(line);
    return {};
  });
  if (!done) out.error = done.error().text();
  return out;
}

TEST(TermFileTest, JsonLinesRoundTrip) {
  TermRecord record;
  record.term = "RAG";
  record.lang = "en";
  record.fields = JsonValue::object();
  record.fields["definition"] = "检索增强生成";
  record.fields["来源"] = "论文";
  record.aliases = {"检索增强生成", "Retrieval-Augmented Generation"};
  record.source = "glossary";
  record.created_at = 1765400000;
  record.updated_at = 1765400400;
  const std::string line = to_json_line(record);
  EXPECT_EQ(line,
            R"({"aliases":["检索增强生成","Retrieval-Augmented Generation"],"createdAt":"2025-12-10T20:53:20Z",)"
            R"("fields":{"definition":"检索增强生成","来源":"论文"},"lang":"en","source":"glossary","term":"RAG",)"
            R"("updatedAt":"2025-12-10T21:00:00Z"})");
  auto back = parse_json_line(line);
  ASSERT_TRUE(back.ok()) << back.error().text();
  EXPECT_EQ(to_json_line(*back), line);
}

TEST(TermFileTest, JsonLinesTakeWhatASaveTakes) {
  auto r = read(
      "{\"term\":\"  Prompt \",\"fields\":{\"定义\":\"给模型的指令\"},\"aliases\":[\"提示词\",\"prompt\",\"提示词\"]}\n"
      "\n"
      "{\"term\":\"LLM\",\"updatedAt\":1765400000}\r\n",
      TermFileFormat::kJsonLines);
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.records.size(), 2u);
  EXPECT_EQ(r.records[0].term, "Prompt");
  EXPECT_EQ(r.records[0].lang, "zh");
  EXPECT_EQ(r.records[0].source, "user");
  EXPECT_EQ(r.records[0].fields["definition"], "给模型的指令");           // by label, stored under its key
  EXPECT_EQ(r.records[0].aliases, (std::vector<std::string>{"提示词"}));  // the term itself and repeats dropped
  EXPECT_EQ(r.lines, (std::vector<std::size_t>{1, 3}));
  EXPECT_EQ(r.records[1].updated_at, 1765400000);
}

TEST(TermFileTest, AMalformedLineIsNamedByItsNumber) {
  struct Case {
    const char* name;
    std::string line;
    const char* says;
  };
  const Case cases[] = {
      {"not JSON", "{\"term\":", "不是 JSON"},
      {"not an object", "[1]", "JSON 对象"},
      {"no term", "{\"lang\":\"zh\"}", "term"},
      {"blank term", "{\"term\":\" \"}", "词条不能为空"},
      {"unknown lang", "{\"term\":\"a\",\"lang\":\"fr\"}", "lang"},
      {"unknown source", "{\"term\":\"a\",\"source\":\"robot\"}", "source"},
      {"fields not an object", "{\"term\":\"a\",\"fields\":[]}", "fields"},
      {"alias not a string", "{\"term\":\"a\",\"aliases\":[1]}", "aliases"},
      {"bad time", "{\"term\":\"a\",\"updatedAt\":\"yesterday\"}", "updatedAt"},
      {"a NUL", std::string("{\"term\":\"a\"}\0x", 14), "NUL"},
      {"a NUL in the term", "{\"term\":\"a\\u0000b\"}", "词条不能含有 NUL 字符"},
      {"a NUL in an alias", "{\"term\":\"a\",\"aliases\":[\"b\\u0000\"]}", "词条不能含有 NUL 字符"},
      {"an invisible term", "{\"term\":\"\\u200b\"}", "看不见的字符"},
      {"an invisible alias", "{\"term\":\"a\",\"aliases\":[\"\\u2060\\u00ad\"]}", "看不见的字符"},
  };
  for (const auto& c : cases) {
    std::string text = "{\"term\":\"ok\"}\n{\"term\":\"ok2\"}\n" + c.line + "\n{\"term\":\"after\"}\n";
    auto r = read(text, TermFileFormat::kJsonLines);
    EXPECT_EQ(r.error.rfind("第 3 行：", 0), 0u) << c.name << ": " << r.error;
    EXPECT_NE(r.error.find(c.says), std::string::npos) << c.name << ": " << r.error;
    EXPECT_EQ(r.records.size(), 2u) << c.name;  // nothing after the broken line
  }
}

TEST(TermFileTest, AByteOrderMarkStartsJsonLinesAsItStartsTables) {
  auto r = read("\xEF\xBB\xBF{\"term\":\"RAG\"}\n{\"term\":\"LLM\"}\n", TermFileFormat::kJsonLines);
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.records.size(), 2u);
  EXPECT_EQ(r.records[0].term, "RAG");
  EXPECT_EQ(r.lines, (std::vector<std::size_t>{1, 2}));
  // Only at the start: one inside a line is no white space.
  auto later = read("{\"term\":\"RAG\"}\n\xEF\xBB\xBF{\"term\":\"LLM\"}\n", TermFileFormat::kJsonLines);
  EXPECT_EQ(later.error.rfind("第 2 行：", 0), 0u) << later.error;
}

TEST(TermFileTest, TimesOutsideWhatAnExportWritesAreRefusedByTheirLine) {
  struct Case {
    std::string value;                    // the JSON of createdAt and updatedAt
    std::optional<std::int64_t> seconds;  // nothing: refused
  };
  const Case cases[] = {
      {"0", 0},
      {"-1", std::nullopt},
      {"253402300799", 253402300799},
      {"253402300800", std::nullopt},
      {"9223372036854775807", std::nullopt},
      {"-9223372036854775808", std::nullopt},
      {"18446744073709551615", std::nullopt},
      {"1.5", std::nullopt},
      {"1e3", std::nullopt},
      {"true", std::nullopt},
      {"\"1970-01-01T00:00:00Z\"", 0},
      {"\"1969-12-31T23:59:59Z\"", std::nullopt},
      {"\"9999-12-31T23:59:59Z\"", 253402300799},
      {"\"0000-01-01T00:00:00Z\"", std::nullopt},
      {"\"-001-01-01T00:00:00Z\"", std::nullopt},
      {"\"+970-01-01T00:00:00Z\"", std::nullopt},
      {"\" 970-01-01T00:00:00Z\"", std::nullopt},
      {"\"2026-12-10T21:40:00z\"", std::nullopt},
      {"\"2026-12-10t21:40:00Z\"", std::nullopt},
      {"\"2026-12-10T21:40:60Z\"", std::nullopt},
      {"\"2026-12-10T24:00:00Z\"", std::nullopt},
      {"\"2026-12-10T21:40:00Z\\u0000\"", std::nullopt},
      {"\"2026-12-10T21:40:0\\u0000Z\"", std::nullopt},
      {"\"２026-12-10T21:40:00Z\"", std::nullopt},
  };
  for (const auto& c : cases) {
    for (const char* key : {"createdAt", "updatedAt"}) {
      const std::string line = "{\"term\":\"a\",\"" + std::string(key) + "\":" + c.value + "}";
      auto r = read("{\"term\":\"ok\"}\n" + line + "\n", TermFileFormat::kJsonLines);
      if (c.seconds) {
        EXPECT_EQ(r.error, "") << line;
        ASSERT_EQ(r.records.size(), 2u) << line;
        EXPECT_EQ(std::string(key) == "createdAt" ? r.records[1].created_at : r.records[1].updated_at, *c.seconds)
            << line;
      } else {
        EXPECT_EQ(r.error.rfind("第 2 行：" + std::string(key), 0), 0u) << line << ": " << r.error;
      }
    }
  }
  auto r = read("{\"term\":\"a\",\"createdAt\":-1}\n", TermFileFormat::kJsonLines);
  EXPECT_EQ(r.error, "第 1 行：createdAt 要在 1970-01-01T00:00:00Z 到 9999-12-31T23:59:59Z 之间");
}

TEST(TermFileTest, AnExportWritesEveryStoredTimeInTheFormItReadsBack) {
  for (std::int64_t seconds : {std::int64_t{-1}, std::int64_t{253402300800}, std::numeric_limits<std::int64_t>::max(),
                               std::numeric_limits<std::int64_t>::min()}) {
    TermRecord record;
    record.term = "t";
    record.created_at = seconds;
    record.updated_at = seconds;
    auto back = parse_json_line(to_json_line(record));
    ASSERT_TRUE(back.ok()) << seconds << ": " << to_json_line(record);
    EXPECT_EQ(back->created_at, seconds < 0 ? kEarliestTime : kLatestTime);
  }
}

TEST(TermFileTest, TablesFromSpreadsheets) {
  const char* csv =
      "\xEF\xBB\xBFTerm,definition,plain,example,aliases,lang,notes\r\n"
      "RAG,\"检索增强生成，先检索再回答\",先查资料再回答,\"问 \"\"RAG 是什么\"\"\",检索增强生成;retrieval augmented "
      "generation,en,x\r\n"
      ",,,,,,\r\n";
  auto r = read(csv, TermFileFormat::kCsv);
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.records.size(), 1u);  // the blank row is skipped
  const auto& rag = r.records[0];
  EXPECT_EQ(rag.term, "RAG");
  EXPECT_EQ(rag.lang, "en");
  EXPECT_EQ(rag.fields["definition"], "检索增强生成，先检索再回答");
  EXPECT_EQ(rag.fields["example"], "问 \"RAG 是什么\"");
  EXPECT_FALSE(rag.fields.contains("notes"));
  EXPECT_EQ(rag.aliases, (std::vector<std::string>{"检索增强生成", "retrieval augmented generation"}));

  auto tsv = read("term\tplain\taliases\n提示词\t给模型的话\tPrompt|提示\n", TermFileFormat::kTsv);
  ASSERT_EQ(tsv.error, "");
  ASSERT_EQ(tsv.records.size(), 1u);
  EXPECT_EQ(tsv.records[0].aliases, (std::vector<std::string>{"Prompt", "提示"}));
  EXPECT_EQ(tsv.lines[0], 2u);
}

TEST(TermFileTest, AMalformedRowIsNamedByItsNumber) {
  struct Case {
    const char* name;
    const char* text;
    const char* says;
  };
  const Case cases[] = {
      {"no term column", "definition,plain\nx,y\n", "第 1 行"},
      {"a column twice", "term,term\nx,y\n", "第 1 行"},
      {"more cells than headers", "term,plain\nok,fine\nx,y,z\n", "第 3 行"},
      {"a term over two lines", "term\nok\n\"two\nlines\"\n", "第 3 行"},
      {"a quote left open", "term\nok\n\"open\n", "第 3 行"},
      {"empty", "", "空"},
      {"not UTF-8", "term\n\xFF\n", "UTF-8"},
  };
  for (const auto& c : cases) {
    auto r = read(c.text, TermFileFormat::kCsv);
    EXPECT_NE(r.error.find(c.says), std::string::npos) << c.name << ": " << r.error;
  }
}

TEST(TermFileTest, FormatsAndTimes) {
  EXPECT_EQ(format_of_path("glossary.CSV"), TermFileFormat::kCsv);
  EXPECT_EQ(format_of_path("a.tsv"), TermFileFormat::kTsv);
  EXPECT_EQ(format_of_path("export.jsonl"), TermFileFormat::kJsonLines);
  EXPECT_EQ(term_file_format("tsv"), TermFileFormat::kTsv);
  EXPECT_FALSE(term_file_format("xlsx"));
  EXPECT_EQ(utc_timestamp(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(parse_utc_timestamp(JsonValue("2026-12-10T21:40:00Z")), 1796938800);
  EXPECT_EQ(parse_utc_timestamp(JsonValue(12)), 12);
  for (const char* bad : {"2026-02-30T00:00:00Z", "2026-12-10 21:40:00", "2026-12-10T21:40:00+01:00", ""}) {
    EXPECT_FALSE(parse_utc_timestamp(JsonValue(bad))) << bad;
  }
}

}  // namespace
}  // namespace ruvo::desktop::store
