// MDict .mdx files: versions, compressions, the key index cipher, encodings, links, and broken
// or locked files.
#include "readers/mdict.hpp"

#include "desktop/readers/collect.hpp"
#include "desktop/readers/writers.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

namespace ruvo::test {
namespace {

using namespace desktop::readers;

std::vector<MdictEntry> sound_entries() {
  return {
      {"cat", "<div class=\"x\" onclick=\"steal()\">A <b>small</b> animal. See <a href=\"entry://kitten\">kitten</a>."
              "<img src=\"cat.png\"></div>"},
      {"kitten", "<p>A young cat.</p>"},
      {"kitty", "@@@LINK=cat"},
      {"pussycat", "@@@LINK=kitty\r\n"},   // a chain of links
      {"loop a", "@@@LINK=loop b"},        // a loop leads nowhere
      {"loop b", "@@@LINK=loop a"},
      {"nowhere", "@@@LINK=missing"},      // a link to no entry
      {"死锁", "<p>进程<i>互相</i>等待</p>"},  // Big5 files get 進程 instead
      {"綠", "<p>green &amp; fresh</p>"},
  };
}

Collected read_bytes(const std::string& bytes, const std::string& name = "test.mdx") {
  MemoryBytes file(bytes, name);
  DictionaryMeta meta;
  Collected out;
  auto done = read_mdict_bytes(file, meta, [&](Article&& a) -> Result<void> {
    out.articles.push_back(std::move(a));
    return {};
  });
  out.meta = meta;
  if (!done) out.error = done.error().message;
  return out;
}

TEST(MdictTest, TheKeyIndexCipherUndoesItself) {
  std::string payload = "the key index, compressed";
  const std::string original = payload;
  const auto key = mdict_index_key(std::string("\x01\x02\x03\x04", 4));
  mdict_encrypt(payload, key);
  EXPECT_NE(payload, original);
  mdict_decrypt(payload, key);
  EXPECT_EQ(payload, original);
}

TEST(MdictTest, SoundFilesInEveryLayoutAndEncoding) {
  struct Variant {
    const char* name;
    MdictOptions options;
  };
  std::vector<Variant> variants;
  for (const int compression : {0, 1, 2}) {
    for (const int encrypted : {0, 2}) {
      MdictOptions o;
      o.compression = compression;
      o.encrypted = encrypted;
      variants.push_back({"version 2", o});
    }
  }
  for (const char* encoding : {"UTF-16", "GBK", "Big5"}) {
    MdictOptions o;
    o.encoding = encoding;
    o.encrypted = 2;
    variants.push_back({encoding, o});
  }
  MdictOptions old;
  old.version = 1;
  old.compression = 1;
  variants.push_back({"version 1.2", old});
  MdictOptions big_blocks;
  big_blocks.per_key_block = 100;
  big_blocks.per_record_block = 100;
  variants.push_back({"one block each", big_blocks});
  for (const auto& v : variants) {
    SCOPED_TRACE(std::string(v.name) + " compression " + std::to_string(v.options.compression) + " encrypted " +
                 std::to_string(v.options.encrypted));
    // Words each encoding can hold: Big5 has traditional characters only.
    const bool big5 = v.options.encoding == "Big5";
    const std::string deadlock = big5 ? "死鎖" : "死锁";
    const std::string green = v.options.encoding == "GBK" ? "绿" : "綠";
    std::vector<MdictEntry> entries = sound_entries();
    entries[entries.size() - 2].key = deadlock;
    if (big5) entries[entries.size() - 2].record = "<p>進程<i>互相</i>等待</p>";
    entries.back().key = green;
    const Collected read = read_bytes(mdict_bytes(entries, v.options));
    ASSERT_EQ(read.error, "");
    EXPECT_EQ(read.meta.name, "Test MDict");
    EXPECT_EQ(read.meta.info, "A test dictionary");
    EXPECT_EQ(read.meta.declared_entries, std::optional<std::uint64_t>(entries.size()));
    ASSERT_EQ(read.articles.size(), 4u);  // links are names, not articles
    const Article* cat = article_named(read, "cat");
    ASSERT_NE(cat, nullptr);
    EXPECT_EQ(cat->text, "A small animal. See kitten.");
    EXPECT_EQ(cat->html, "<div>A <b>small</b> animal. See <a data-see=\"kitten\">kitten</a>.</div>");
    EXPECT_EQ(cat->see_also, std::vector<std::string>{"kitten"});
    EXPECT_EQ(cat->aliases, (std::vector<std::string>{"kitty", "pussycat"}));
    ASSERT_NE(article_named(read, deadlock), nullptr);
    EXPECT_EQ(article_named(read, deadlock)->text, big5 ? "進程互相等待" : "进程互相等待");
    EXPECT_EQ(article_named(read, deadlock)->lang, "zh");
    ASSERT_NE(article_named(read, green), nullptr);
    EXPECT_EQ(article_named(read, green)->text, "green & fresh");
    EXPECT_EQ(article_named(read, "nowhere"), nullptr);
    EXPECT_EQ(article_named(read, "loop a"), nullptr);
  }
}

TEST(MdictTest, TextFormatAndNamesFromTheFile) {
  TempDir dir;
  MdictOptions options;
  options.format = "Text";
  options.title = "Title (No HTML code allowed)";
  ASSERT_TRUE(write_bytes(dir.file("plain words.mdx"), mdict_bytes({{"a", "first line\r\nsecond <b>line</b>"}}, options)));
  const Collected read = collect_found({Format::kMdict, dir.file("plain words.mdx"), ""});
  ASSERT_EQ(read.error, "");
  EXPECT_EQ(read.meta.name, "plain words");  // the placeholder title is no name
  ASSERT_EQ(read.articles.size(), 1u);
  EXPECT_EQ(read.articles[0].text, "first line\nsecond <b>line</b>");
  EXPECT_EQ(read.articles[0].html, "");
}

TEST(MdictTest, BrokenAndLockedFilesAreRefusedWithTheReason) {
  const std::string good = mdict_bytes(sound_entries(), {});
  const std::uint32_t header_length = static_cast<unsigned char>(good[3]) | static_cast<unsigned char>(good[2]) << 8;
  const std::size_t keyword_at = 4 + header_length + 4;
  struct Case {
    const char* name;
    std::string bytes;
    const char* message;
  };
  auto flipped = [&](std::size_t at) {
    std::string bytes = good;
    bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
    return bytes;
  };
  MdictOptions locked;
  locked.encrypted = 1;
  MdictOptions unknown;
  unknown.encoding = "KOI8-R";
  std::string bad_type = mdict_bytes({{"a", "b"}}, {});
  bad_type[bad_type.size() - mdict_block(std::string("b\0", 2), 2).size()] = 7;  // the only record block's type
  const std::vector<Case> cases = {
      {"cut in the header", good.substr(0, 20), "头部不完整"},
      {"cut in the keyword section", good.substr(0, keyword_at + 20), "关键词部分的头不完整"},
      {"cut in the last record block", good.substr(0, good.size() - 5), "在第 5 个记录块被截断"},
      {"a damaged header", flipped(10), "头部校验和（Adler-32）不符"},
      {"a damaged keyword header", flipped(keyword_at + 15), "关键词部分校验和（Adler-32）不符"},
      {"a damaged record block", flipped(good.size() - 3), "第 5 个记录块"},
      {"a registration code needed", mdict_bytes(sound_entries(), locked), "需要注册码"},
      {"an unknown encoding", mdict_bytes({{"a", "b"}}, unknown), "编码“KOI8-R”不支持"},
      {"an unknown block type", bad_type, "压缩方式 7 不认识"},
      {"not MDict at all", std::string("\0\0\0\x04<a/>\0\0\0\0", 12), "校验和"},
      {"an empty file", "", "没有头部"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Collected read = read_bytes(c.bytes, "words.mdx");
    EXPECT_NE(read.error.find(c.message), std::string::npos) << read.error;
    EXPECT_EQ(read.error.rfind("words.mdx", 0), 0u) << read.error;
    EXPECT_TRUE(read.articles.empty());  // every count, size and block is checked before the first article
  }
}

TEST(MdictTest, CountsThatDisagreeAreCaught) {
  // The record section says one entry fewer than the keyword section has.
  MdictOptions one_block;
  one_block.per_record_block = 10;
  std::string single = mdict_bytes({{"a", "one"}, {"b", "two"}}, one_block);
  // layout at the end: [4 x u64 head][2 x u64 sizes][block]; the block is 8 + payload.
  const std::string block = mdict_block(std::string("one\0two\0", 8), 2);
  const std::size_t head_at = single.size() - block.size() - 16 - 32;
  single[head_at + 15] = 1;  // entries: 2 → 1
  const Collected read = read_bytes(single);
  EXPECT_NE(read.error.find("记录部分有 1 条，但关键词有 2 个"), std::string::npos) << read.error;
}

}  // namespace
}  // namespace ruvo::test
