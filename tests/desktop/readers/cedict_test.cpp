// CC-CEDICT: pinyin with tone marks, entry lines, whole files plain and gzipped.
#include "readers/cedict.hpp"

#include "desktop/readers/collect.hpp"
#include "desktop/readers/writers.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

namespace ruvo::test {
namespace {

using namespace desktop::readers;

TEST(CedictTest, PinyinGetsItsToneMarks) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"ni3 hao3", "nǐ hǎo"},          {"Bei3 jing1", "Běi jīng"},   {"lu:4", "lǜ"},
      {"nu:3 ren2", "nǚ rén"},         {"Lu:3", "Lǚ"},               {"lu:e4", "lüè"},
      {"xue2 sheng5", "xué sheng"},    {"gou3", "gǒu"},              {"liu2", "liú"},
      {"gui4", "guì"},                 {"er4", "èr"},                {"ai4", "ài"},
      {"Ou1 zhou1", "Ōu zhōu"},        {"san1 C", "sān C"},          {"A A zhi4", "A A zhì"},
      {"Ai1 fu1 · Le4", "Āi fū · Lè"}, {"hm5", "hm"},                {"m2", "ḿ"},
      {"ng4", "ǹg"},                   {"e^2", "ế"},                 {"xx5", "xx"},
      {"Zhong1guo2", "Zhōngguó"},      {"r5", "r"},                  {"", ""},
  };
  for (const auto& [numbered, marked] : cases) EXPECT_EQ(pinyin_with_tone_marks(numbered), marked) << numbered;
}

TEST(CedictTest, EntryLines) {
  auto entry = parse_cedict_line("死鎖 死锁 [si3 suo3] /deadlock (computing)/ / stalemate /\r", 40, "cedict.u8");
  ASSERT_TRUE(entry.ok()) << entry.error().message;
  EXPECT_EQ(entry->traditional, "死鎖");
  EXPECT_EQ(entry->simplified, "死锁");
  EXPECT_EQ(entry->pinyin, "si3 suo3");
  EXPECT_EQ(entry->senses, (std::vector<std::string>{"deadlock (computing)", "stalemate"}));
  auto joined = parse_cedict_line("中國 中国 [[Zhong1guo2]] /China/", 1, "c");
  ASSERT_TRUE(joined.ok());
  EXPECT_EQ(joined->pinyin, "Zhong1guo2");
  auto both = parse_cedict_line("中國 中国 [Zhong1 guo2] [[Zhong1guo2]] /China/", 1, "c");
  ASSERT_TRUE(both.ok());
  EXPECT_EQ(both->pinyin, "Zhong1 guo2");
  const std::vector<std::pair<std::string, std::string>> broken = {
      {"死锁", "缺少简体词头"},
      {"死鎖 死锁 /deadlock/", "缺少方括号里的拼音"},
      {"死鎖 死锁 [si3 suo3 /deadlock/", "拼音缺少右方括号"},
      {"死鎖 死锁 [si3 suo3] deadlock", "释义应在两个斜杠之间"},
      {"死鎖 死锁 [si3 suo3] /deadlock", "释义应在两个斜杠之间"},
      {"死鎖 死锁 [si3 suo3] // /", "没有释义"},
      {"死鎖  [si3 suo3] /deadlock/", "缺少简体词头"},
      {"\xe6\xad xx [a] /b/", "不是有效的 UTF-8"},
  };
  for (const auto& [line, message] : broken) {
    auto parsed = parse_cedict_line(line, 12, "cedict_ts.u8");
    ASSERT_FALSE(parsed.ok()) << line;
    EXPECT_EQ(parsed.error().message.rfind("cedict_ts.u8 第 12 行", 0), 0u) << parsed.error().message;
    EXPECT_NE(parsed.error().message.find(message), std::string::npos) << parsed.error().message;
  }
}

const char* const kFile =
    "# CC-CEDICT\n"
    "# Community maintained free Chinese-English dictionary.\n"
    "# \n"
    "# Published by MDBG\n"
    "# License:\n"
    "# Creative Commons Attribution-ShareAlike 4.0 International License\n"
    "# https://creativecommons.org/licenses/by-sa/4.0/\n"
    "# CC-CEDICT can be downloaded from:\n"
    "# https://www.mdbg.net/chinese/dictionary?page=cc-cedict\n"
    "#! version=1\n"
    "#! entries=3\n"
    "#! publisher=MDBG\n"
    "#! license=https://creativecommons.org/licenses/by-sa/4.0/\n"
    "死鎖 死锁 [si3 suo3] /deadlock (computing)/\n"
    "你好 你好 [ni3 hao3] /hello/hi/\n"
    "# a comment among the entries\n"
    "綠 绿 [lu:4] /green/\n";

TEST(CedictTest, WholeFilesPlainAndGzipped) {
  TempDir dir;
  ASSERT_TRUE(write_bytes(dir.file("cedict_ts.u8"), kFile));
  ASSERT_TRUE(write_bytes(dir.file("cedict.txt.gz"), gzip_bytes(kFile)));
  for (const char* name : {"cedict_ts.u8", "cedict.txt.gz"}) {
    SCOPED_TRACE(name);
    const Collected read = collect_found({Format::kCedict, dir.file(name), "CC-CEDICT"});
    ASSERT_EQ(read.error, "");
    EXPECT_EQ(read.meta.name, "CC-CEDICT");
    EXPECT_EQ(read.meta.declared_entries, std::optional<std::uint64_t>(3));
    EXPECT_EQ(read.meta.url, "https://www.mdbg.net/chinese/dictionary?page=cc-cedict");
    EXPECT_NE(read.meta.info.find("Published by MDBG"), std::string::npos);
    EXPECT_NE(read.meta.info.find("Creative Commons Attribution-ShareAlike 4.0"), std::string::npos);
    EXPECT_NE(read.meta.info.find("license=https://creativecommons.org/licenses/by-sa/4.0/"), std::string::npos);
    ASSERT_EQ(read.articles.size(), 3u);
    const Article& deadlock = read.articles[0];
    EXPECT_EQ(deadlock.headword, "死锁");
    EXPECT_EQ(deadlock.aliases, std::vector<std::string>{"死鎖"});
    EXPECT_EQ(deadlock.phonetic, "sǐ suǒ");
    EXPECT_EQ(deadlock.senses, std::vector<std::string>{"deadlock (computing)"});
    EXPECT_EQ(deadlock.lang, "en");
    const Article& hello = read.articles[1];
    EXPECT_TRUE(hello.aliases.empty());  // the same in both scripts
    EXPECT_EQ(hello.text, "hello\nhi");
    EXPECT_EQ(hello.senses, (std::vector<std::string>{"hello", "hi"}));
    EXPECT_EQ(read.articles[2].phonetic, "lǜ");
  }
}

TEST(CedictTest, AMalformedLineStopsTheFileWithItsNumber) {
  const std::string text = std::string(kFile) + "錯 错 cuo4 /wrong/\n" + "對 对 [dui4] /right/\n";
  DictionaryMeta meta;
  std::size_t emitted = 0;
  auto done = read_cedict_text(text, "cedict_ts.u8", meta, [&](Article&&) -> Result<void> {
    ++emitted;
    return {};
  });
  ASSERT_FALSE(done.ok());
  EXPECT_EQ(done.error().message.rfind("cedict_ts.u8 第 18 行格式不对", 0), 0u) << done.error().message;
  EXPECT_EQ(emitted, 3u);
  EXPECT_FALSE(read_cedict_text("# CC-CEDICT\n# nothing else\n", "c", meta, [](Article&&) -> Result<void> { return {}; }).ok());
  EXPECT_TRUE(looks_like_cedict(kFile));
  EXPECT_TRUE(looks_like_cedict("你好 你好 [ni3 hao3] /hello/\n"));
  EXPECT_FALSE(looks_like_cedict("hello world\n"));
  EXPECT_FALSE(looks_like_cedict("# just a comment\n"));
}

}  // namespace
}  // namespace ruvo::test
