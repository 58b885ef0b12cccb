// dictd databases: the index's numbers and lines, articles made to read cleanly, whole databases
// sound and broken.
#include "readers/dictd.hpp"

#include "desktop/readers/collect.hpp"
#include "desktop/readers/writers.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

namespace ruvo::test {
namespace {

using namespace desktop::readers;

TEST(DictdTest, Base64NumbersAsDictdWritesThem) {
  const std::vector<std::pair<std::string, std::optional<std::uint64_t>>> cases = {
      {"A", 0}, {"B", 1}, {"/", 63}, {"BA", 64}, {"+/", 62 * 64 + 63}, {"Gb9L", ((6 * 64 + 27) * 64 + 61) * 64 + 11},
      {"AAAB", 1}, {"P//////////", UINT64_MAX}, {"", std::nullopt}, {"A-B", std::nullopt}, {"A=", std::nullopt},
      {"A B", std::nullopt}, {"BAAAAAAAAAAA", std::nullopt} /* 2^66 */, {"é", std::nullopt}};
  for (const auto& [digits, value] : cases) EXPECT_EQ(decode_dictd_number(digits), value) << digits;
  for (const std::uint64_t n : {0ull, 1ull, 63ull, 64ull, 58315ull, 5600000ull, 1ull << 40}) {
    EXPECT_EQ(decode_dictd_number(dictd_number(n)), n);
  }
}

TEST(DictdTest, IndexLinesAreCheckedColumnByColumn) {
  auto line = parse_dictd_index_line("deadly embrace\tExWO\tVT\r", 7, "foldoc.index");
  ASSERT_TRUE(line.ok()) << line.error().message;
  EXPECT_EQ(line->headword, "deadly embrace");
  EXPECT_EQ(line->offset, *decode_dictd_number("ExWO"));
  EXPECT_EQ(line->length, *decode_dictd_number("VT"));
  auto spelled = parse_dictd_index_line("mutex\tMvOr\tCL\tMuTeX", 1, "f.index");
  ASSERT_TRUE(spelled.ok());
  EXPECT_EQ(spelled->spelling, "MuTeX");
  const std::vector<std::pair<std::string, std::string>> broken = {
      {"deadlock\tEx-O\tVT", "foldoc.index 第 3 行的偏移量“Ex-O”不是 base64 数字"},
      {"deadlock\tExWO\t", "foldoc.index 第 3 行的长度“”不是 base64 数字"},
      {"deadlock\tExWO", "foldoc.index 第 3 行格式不对"},
      {"a\tB\tC\tD\tE", "foldoc.index 第 3 行格式不对"},
      {" \tB\tC", "foldoc.index 第 3 行的词头是空的"},
      {"caf\xe9\tB\tC", "foldoc.index 第 3 行不是有效的 UTF-8 文本"},
  };
  for (const auto& [text, message] : broken) {
    auto parsed = parse_dictd_index_line(text, 3, "foldoc.index");
    ASSERT_FALSE(parsed.ok()) << text;
    EXPECT_EQ(parsed.error().message.rfind(message, 0), 0u) << parsed.error().message;
  }
  EXPECT_TRUE(is_dictd_metadata("00-database-short"));
  EXPECT_TRUE(is_dictd_metadata("00databaseutf8"));
  EXPECT_TRUE(is_dictd_metadata("00-database-8bit-new"));
  EXPECT_FALSE(is_dictd_metadata("007"));
  EXPECT_FALSE(is_dictd_metadata("00-base"));
}

TEST(DictdTest, ArticlesReadCleanly) {
  struct Case {
    const char* name;
    std::string raw;
    std::vector<std::string> names;
    std::string headword;
    std::vector<std::string> aliases;
    std::string text;
    std::vector<std::string> see_also;
  };
  const std::vector<Case> cases = {
      {"FOLDOC: two heading lines, an indented body, a reference across a line break",
       "deadlock\ndeadly embrace\n\n   <parallel> Two {processes} wait.  See {deadly\n   embrace}.\n\n   (2000-07-26)\n\n",
       {"deadly embrace", "deadlock"}, "deadlock", {"deadly embrace"},
       "<parallel> Two processes wait.  See deadly\nembrace.\n\n(2000-07-26)", {"processes", "deadly embrace"}},
      {"VERA: the index in lower case, the heading as spelled", "TCP\n       Transmission Control Protocol (ARPANET)\n       \n",
       {"tcp"}, "TCP", {}, "Transmission Control Protocol (ARPANET)", {}},
      {"Jargon: a part of speech less indented than the body", "deadlock\n n.\n\n    1. [techspeak] A situation.\n\n",
       {"deadlock"}, "deadlock", {}, "n.\n\n1. [techspeak] A situation.", {}},
      {"no heading: nothing dropped", "   Just a definition of {cat}.\n", {"kitten"}, "kitten", {}, "Just a definition of cat.",
       {"cat"}},
      {"outside links are text, not references", "x\n   {Home (http://example.org/)} {About (about.html)} {(ftp://h/f)}\n",
       {"x"}, "x", {}, "Home (http://example.org/) About (about.html) (ftp://h/f)", {}},
      {"unmatched and nested braces stay", "y\n   a { b {c} d } e {f\n", {"y"}, "y", {}, "a { b c d } e {f", {"c"}},
      {"a heading that is no name of the article stays", "Other Thing\n   text\n", {"word"}, "word", {}, "Other Thing\ntext",
       {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const DictdArticle article = clean_dictd_article(c.raw, c.names);
    EXPECT_EQ(article.headword, c.headword);
    EXPECT_EQ(article.aliases, c.aliases);
    EXPECT_EQ(article.text, c.text);
    EXPECT_EQ(article.see_also, c.see_also);
    EXPECT_EQ(article.html.empty(), c.see_also.empty()) << article.html;
  }
  const DictdArticle linked = clean_dictd_article("w\n   a <b> & {c d}\n", {"w"});
  EXPECT_EQ(linked.html, "a &lt;b&gt; &amp; <a data-see=\"c d\">c d</a>");
}

TEST(DictdTest, MetadataGivesNameInfoAndUrl) {
  EXPECT_EQ(dictd_short_name("00-database-short\n     The Jargon File (version 4.4.7)\n"), "The Jargon File (version 4.4.7)");
  EXPECT_EQ(dictd_short_name("00databaseshort\n   V.E.R.A.\n"), "V.E.R.A.");
  EXPECT_EQ(dictd_info_text("00-database-info\n   Licence: GFDL\n\n     details\n"), "Licence: GFDL\n\n  details");
}

// A small database with every feature: metadata, an article under two names, a headword with two
// articles, case variants, references.
std::vector<DictdEntry> sound_articles() {
  return {
      {{"deadlock", "deadly embrace"}, "deadlock\ndeadly embrace\n\n   When two {processes} wait for each other.\n"},
      {{"mutex"}, "mutex\n\n   A {mutual exclusion} object.\n"},
      {{"mutex"}, "MuTeX\n\n   An extension of {TeX} for music.\n"},
      {{"ace"}, "ACE\n   Advanced Computing Environment\n"},
      {{"ace"}, "ACE\n   Adaptive Communication Environment\n"},
      {{"死锁"}, "死锁\n   进程互相等待。\n"},
  };
}

Collected read_database(const DictdFiles& files, const std::string& dict_name = "words.dict") {
  MemoryBytes dict(files.dict, dict_name);
  DictionaryMeta meta;
  Collected out;
  auto done = read_dictd_database(files.index, "words.index", dict, meta, [&](Article&& a) -> Result<void> {
    out.articles.push_back(std::move(a));
    return {};
  });
  out.meta = meta;
  if (!done) out.error = done.error().message;
  return out;
}

TEST(DictdTest, SoundDatabaseIsReadWhole) {
  TempDir dir;
  const DictdFiles files = dictd_files(sound_articles(), "Test Words (2024)", "00-database-info\nLicence: free.\n",
                                       "http://example.org/words");
  ASSERT_TRUE(write_bytes(dir.file("plain.index"), files.index));
  ASSERT_TRUE(write_bytes(dir.file("plain.dict"), files.dict));
  ASSERT_TRUE(write_bytes(dir.file("packed.index"), files.index));
  ASSERT_TRUE(write_bytes(dir.file("packed.dict.dz"), dictzip_bytes(files.dict, 64)));
  ASSERT_TRUE(write_bytes(dir.file("gzipped.index"), files.index));
  ASSERT_TRUE(write_bytes(dir.file("gzipped.dict.gz"), gzip_bytes(files.dict)));
  for (const char* stem : {"plain", "packed", "gzipped"}) {
    SCOPED_TRACE(stem);
    const Collected read = collect_found({Format::kDictd, dir.file(std::string(stem) + ".index"), ""});
    ASSERT_EQ(read.error, "");
    EXPECT_EQ(read.meta.name, "Test Words (2024)");
    EXPECT_EQ(read.meta.info, "Licence: free.");
    EXPECT_EQ(read.meta.url, "http://example.org/words");
    EXPECT_EQ(read.meta.format, Format::kDictd);
    EXPECT_FALSE(read.meta.declared_entries.has_value());
    ASSERT_EQ(read.articles.size(), 6u);  // no metadata among them; the shared article once
    const Article* deadlock = article_named(read, "deadlock");
    ASSERT_NE(deadlock, nullptr);
    EXPECT_EQ(deadlock->aliases, std::vector<std::string>{"deadly embrace"});
    EXPECT_EQ(deadlock->text, "When two processes wait for each other.");
    EXPECT_EQ(deadlock->see_also, std::vector<std::string>{"processes"});
    EXPECT_EQ(deadlock->html, "When two <a data-see=\"processes\">processes</a> wait for each other.");
    EXPECT_EQ(deadlock->lang, "en");
    ASSERT_NE(article_named(read, "mutex"), nullptr);
    ASSERT_NE(article_named(read, "MuTeX"), nullptr);
    EXPECT_EQ(article_named(read, "MuTeX")->see_also, std::vector<std::string>{"TeX"});
    int aces = 0;
    for (const auto& a : read.articles) aces += a.headword == "ACE";
    EXPECT_EQ(aces, 2);
    ASSERT_NE(article_named(read, "死锁"), nullptr);
    EXPECT_EQ(article_named(read, "死锁")->lang, "zh");
    EXPECT_EQ(article_named(read, "死锁")->html, "");
  }
}

TEST(DictdTest, BrokenDatabasesAreRefusedBeforeAnyArticle) {
  const DictdFiles good = dictd_files(sound_articles(), "Test");
  struct Case {
    const char* name;
    DictdFiles files;
    const char* message;
  };
  DictdFiles past_end = good;
  past_end.index += "zzz\t" + dictd_number(good.dict.size() - 3) + "\tE\n";
  DictdFiles bad_digit = good;
  bad_digit.index.replace(bad_digit.index.find("\t"), 2, "\t*");
  DictdFiles truncated = good;
  truncated.dict.resize(good.dict.size() - 10);
  DictdFiles blank_line = good;
  blank_line.index.insert(blank_line.index.find('\n') + 1, "\n");
  DictdFiles latin1 = good;
  latin1.index += "caf\xe9\tB\tC\n";
  const std::vector<Case> cases = {
      {"an offset past the end", past_end, "指向 words.dict 的末尾之外"},
      {"a bad base-64 digit", bad_digit, "不是 base64 数字"},
      {"a .dict cut short", truncated, "指向 words.dict 的末尾之外"},
      {"a blank line inside the index", blank_line, "words.index 第 2 行是空行"},
      {"an index that is not UTF-8", latin1, "不是有效的 UTF-8 文本"},
      {"an empty index", DictdFiles{"", good.dict}, "words.index 里没有词条"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Collected read = read_database(c.files);
    EXPECT_NE(read.error.find(c.message), std::string::npos) << read.error;
    EXPECT_TRUE(read.articles.empty());
  }
}

TEST(DictdTest, FaultsInTheArticlesStopTheReadingThere) {
  // An article that is not UTF-8 in the middle: those before it were handed out, none after.
  std::vector<DictdEntry> articles = sound_articles();
  articles.insert(articles.begin() + 3, DictdEntry{{"bad"}, "bad\n   caf\xe9\n"});
  const Collected read = read_database(dictd_files(articles));
  EXPECT_NE(read.error.find("“bad”"), std::string::npos) << read.error;
  EXPECT_EQ(read.articles.size(), 3u);
  // A dictzip file cut inside a later chunk: the chunk is named.
  TempDir dir;
  const DictdFiles files = dictd_files(sound_articles(), "Test");
  const std::string packed = dictzip_bytes(files.dict, 40);
  ASSERT_TRUE(write_bytes(dir.file("cut.index"), files.index));
  ASSERT_TRUE(write_bytes(dir.file("cut.dict.dz"), packed.substr(0, packed.size() - 60)));
  const Collected cut = collect_found({Format::kDictd, dir.file("cut.index"), ""});
  EXPECT_NE(cut.error.find("cut.dict.dz 在第 "), std::string::npos) << cut.error;
  EXPECT_NE(cut.error.find(" 块被截断"), std::string::npos) << cut.error;
  // A sink's error ends the reading and comes back as it is.
  std::size_t taken = 0;
  MemoryBytes dict(files.dict, "words.dict");
  DictionaryMeta meta;
  auto stopped = read_dictd_database(files.index, "words.index", dict, meta, [&](Article&&) -> Result<void> {
    if (++taken == 2) return common::failure("the store is full");
    return {};
  });
  ASSERT_FALSE(stopped.ok());
  EXPECT_EQ(stopped.error().message, "the store is full");
  EXPECT_EQ(taken, 2u);
  // Without the articles' file.
  ASSERT_TRUE(write_bytes(dir.file("lonely.index"), files.index));
  EXPECT_NE(collect_found({Format::kDictd, dir.file("lonely.index"), ""}).error.find("旁边没有 .dict"), std::string::npos);
}

}  // namespace
}  // namespace ruvo::test
