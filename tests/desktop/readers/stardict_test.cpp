// StarDict dictionaries: the .ifo, .idx and .syn files, article fields with and without
// sametypesequence, whole dictionaries sound and broken.
#include "readers/stardict.hpp"

#include "desktop/readers/collect.hpp"
#include "desktop/readers/writers.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

namespace ruvo::test {
namespace {

using namespace desktop::readers;

TEST(StarDictTest, IfoIsCheckedKeyByKey) {
  auto info = parse_ifo(
      "\xEF\xBB\xBFStarDict's dict ifo file\r\nversion=3.0.0\r\nbookname = Words = many \r\nwordcount=2\r\n"
      "idxfilesize=30\r\nidxoffsetbits=64\r\nsametypesequence=tm\r\n\r\ndescription=One<br>Two\r\nwebsite=http://x\r\n",
      "w.ifo");
  ASSERT_TRUE(info.ok()) << info.error().message;
  EXPECT_EQ(info->bookname, "Words = many");
  EXPECT_EQ(info->wordcount, 2u);
  EXPECT_EQ(info->idxfilesize, 30u);
  EXPECT_EQ(info->idxoffsetbits, 64);
  EXPECT_EQ(info->sametypesequence, "tm");
  EXPECT_EQ(info->description, "One<br>Two");
  EXPECT_FALSE(info->synwordcount.has_value());
  const std::string head = "StarDict's dict ifo file\nversion=2.4.2\n";
  const std::vector<std::pair<std::string, std::string>> broken = {
      {"StarDict's dict ifo file \nversion=2.4.2\nbookname=a\nwordcount=1\nidxfilesize=1\n", "的第一行不是"},
      {"version=2.4.2\n", "的第一行不是"},
      {"StarDict's dict ifo file\nversion=2.5.0\nbookname=a\nwordcount=1\nidxfilesize=1\n", "version 是“2.5.0”"},
      {head + "wordcount=1\nidxfilesize=1\n", "缺少 bookname"},
      {head + "bookname=a\nidxfilesize=1\n", "缺少 wordcount"},
      {head + "bookname=a\nwordcount=1\n", "缺少 idxfilesize"},
      {head + "bookname=a\nwordcount=1x\nidxfilesize=1\n", "wordcount“1x”不是数字"},
      {head + "bookname=a\nwordcount=-1\nidxfilesize=1\n", "不是数字"},
      {head + "bookname=a\nwordcount=1\nidxfilesize=1\nidxoffsetbits=64\n", "version 不是 3.0.0"},
      {head + "bookname=a\nwordcount=1\nidxfilesize=1\nidxoffsetbits=16\n", "只能是 32 或 64"},
      {head + "bookname=a\nwordcount=1\nidxfilesize=1\njust text\n", "第 6 行不是“键=值”"},
      {head + "bookname=caf\xe9\n", "不是有效的 UTF-8"},
  };
  for (const auto& [text, message] : broken) {
    auto parsed = parse_ifo(text, "w.ifo");
    ASSERT_FALSE(parsed.ok()) << text;
    EXPECT_NE(parsed.error().message.find(message), std::string::npos) << parsed.error().message;
  }
}

TEST(StarDictTest, FieldsWithAndWithoutSameTypeSequence) {
  struct Case {
    const char* name;
    std::string data;
    std::string sequence;
    std::vector<std::pair<char, std::string>> fields;
  };
  const std::vector<Case> cases = {
      {"typed fields", stardict_text_field('t', "kæt") + stardict_data_field('W', std::string("RI\0FF", 5)) +
                           stardict_text_field('m', "a cat"),
       "", {{'t', "kæt"}, {'W', std::string("RI\0FF", 5)}, {'m', "a cat"}}},
      {"the last typed field may end with the article", "ma cat", "", {{'m', "a cat"}}},
      {"sametypesequence: the last field runs to the end", std::string("kæt\0a cat", 10), "tm", {{'t', "kæt"}, {'m', "a cat"}}},
      {"sametypesequence ending in an upper-case type", std::string("cat\0PNGDATA", 11), "mP", {{'m', "cat"}, {'P', "PNGDATA"}}},
      {"sametypesequence with a sized field first", std::string("\0\0\0\x02hi", 6) + "text", "Wm", {{'W', "hi"}, {'m', "text"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto fields = parse_stardict_fields(c.data, c.sequence, "w.dict");
    ASSERT_TRUE(fields.ok()) << fields.error().message;
    ASSERT_EQ(fields->size(), c.fields.size());
    for (std::size_t i = 0; i < c.fields.size(); ++i) {
      EXPECT_EQ((*fields)[i].type, c.fields[i].first);
      EXPECT_EQ((*fields)[i].data, c.fields[i].second);
    }
  }
  const std::vector<std::tuple<std::string, std::string, std::string>> broken = {
      {std::string("W\0\0\0\x09short", 10), "", "超出了词条"},
      {"W\0\0", "", "长度不完整"},
      {"1text", "", "未知的字段类型“1”"},
      {"no terminator", "tm", "比 sametypesequence 说的短"},
  };
  for (const auto& [data, sequence, message] : broken) {
    auto fields = parse_stardict_fields(data, sequence, "w.dict 中的“x”");
    ASSERT_FALSE(fields.ok());
    EXPECT_NE(fields.error().message.find(message), std::string::npos) << fields.error().message;
    EXPECT_EQ(fields.error().message.rfind("w.dict 中的“x”", 0), 0u);
  }
}

TEST(StarDictTest, FieldTypesBecomeText) {
  auto article = stardict_article(
      {{'t', "kæt"},
       {'h', "<p>A <b>small</b> animal, see <a href=\"bword://kitten\">kitten</a>.</p><script>alert(1)</script>"},
       {'W', "RIFF"},
       {'m', "Plain line one\nline two"}},
      "w");
  ASSERT_TRUE(article.ok()) << article.error().message;
  EXPECT_EQ(article->phonetic, "kæt");
  EXPECT_EQ(article->text, "A small animal, see kitten.\nPlain line one\nline two");
  EXPECT_EQ(article->see_also, std::vector<std::string>{"kitten"});
  EXPECT_EQ(article->html,
            "<div><p>A <b>small</b> animal, see <a data-see=\"kitten\">kitten</a>.</p></div>"
            "<div>Plain line one<br>line two</div>");
  auto pango = stardict_article({{'g', "\n    <b>a capella</b>\n\n<span foreground=\"red\">vokální &amp; skladba</span>\n"}}, "w");
  ASSERT_TRUE(pango.ok());
  EXPECT_EQ(pango->text, "a capella\n\nvokální & skladba");
  auto xdxf = stardict_article({{'x', "<k>cat</k>\n<tr>kæt</tr>\n<dtrn>a small animal</dtrn>, see <kref>kitten</kref>"}}, "w");
  ASSERT_TRUE(xdxf.ok());
  EXPECT_EQ(xdxf->text, "kæt\na small animal, see kitten");
  EXPECT_EQ(xdxf->phonetic, "kæt");
  EXPECT_EQ(xdxf->see_also, std::vector<std::string>{"kitten"});
  auto plain = stardict_article({{'m', "just text"}}, "w");
  ASSERT_TRUE(plain.ok());
  EXPECT_EQ(plain->html, "");  // plain text without links
  auto bad = stardict_article({{'m', "caf\xe9"}}, "w.dict 中的“café”");
  ASSERT_FALSE(bad.ok());
  EXPECT_NE(bad.error().message.find("不是有效的 UTF-8"), std::string::npos);
}

std::vector<StarDictWord> sound_words(const std::string& sequence) {
  auto data = [&](const std::string& phonetic, const std::string& meaning) {
    if (sequence == "tm") return phonetic + std::string(1, '\0') + meaning;
    return stardict_text_field('t', phonetic) + stardict_text_field('m', meaning);
  };
  return {{"cat", data("kæt", "a small animal"), {"kitty", "Felis catus"}},
          {"Cat", data("kæt", "a tool (with a capital)"), {}},
          {"deadlock", data("ˈdɛdlɒk", "when two processes wait for each other"), {"deadly embrace"}},
          {"死锁", data("sǐ suǒ", "进程互相等待"), {}}};
}

TEST(StarDictTest, SoundDictionariesAreReadWhole) {
  TempDir dir;
  struct Variant {
    const char* stem;
    StarDictOptions options;
    bool gzip_idx;
    bool dictzip;
  };
  StarDictOptions typed;
  typed.extra_ifo = "description=Words<br>for tests\nauthor=Someone\nwebsite=http://example.org\n";
  StarDictOptions sequenced = typed;
  sequenced.sametypesequence = "tm";
  StarDictOptions wide = typed;
  wide.offset64 = true;
  const std::vector<Variant> variants = {{"typed", typed, false, false},
                                         {"sequenced", sequenced, false, false},
                                         {"wide", wide, false, false},
                                         {"packed", sequenced, true, true}};
  for (const auto& v : variants) {
    SCOPED_TRACE(v.stem);
    const StarDictFiles files = stardict_files(sound_words(v.options.sametypesequence), v.options);
    const std::string stem = dir.file(v.stem);
    ASSERT_TRUE(write_bytes(stem + ".ifo", files.ifo));
    ASSERT_TRUE(write_bytes(stem + (v.gzip_idx ? ".idx.gz" : ".idx"), v.gzip_idx ? gzip_bytes(files.idx) : files.idx));
    ASSERT_TRUE(write_bytes(stem + ".syn", files.syn));
    ASSERT_TRUE(write_bytes(stem + (v.dictzip ? ".dict.dz" : ".dict"), v.dictzip ? dictzip_bytes(files.dict, 50) : files.dict));
    const Collected read = collect_found({Format::kStarDict, stem + ".ifo", ""});
    ASSERT_EQ(read.error, "");
    EXPECT_EQ(read.meta.name, "Test Dictionary");
    EXPECT_EQ(read.meta.info, "Words\nfor tests\n作者：Someone");
    EXPECT_EQ(read.meta.url, "http://example.org");
    EXPECT_EQ(read.meta.declared_entries, std::optional<std::uint64_t>(4));
    ASSERT_EQ(read.articles.size(), 4u);
    const Article* cat = article_named(read, "cat");
    ASSERT_NE(cat, nullptr);
    EXPECT_EQ(cat->phonetic, "kæt");
    EXPECT_EQ(cat->text, "a small animal");
    EXPECT_EQ(cat->aliases, (std::vector<std::string>{"Felis catus", "kitty"}));
    ASSERT_NE(article_named(read, "Cat"), nullptr);
    EXPECT_TRUE(article_named(read, "Cat")->aliases.empty());
    EXPECT_EQ(article_named(read, "deadlock")->aliases, std::vector<std::string>{"deadly embrace"});
    EXPECT_EQ(article_named(read, "死锁")->lang, "zh");
  }
}

TEST(StarDictTest, SharedArticlesAndSoundOnlyArticles) {
  // Two records pointing at the same bytes are one article with two names; an article of sound
  // alone has nothing to tell in text and is left out.
  StarDictFiles files = stardict_files({{"colour", stardict_text_field('m', "a hue"), {}},
                                        {"beep", stardict_data_field('W', "RIFF...."), {}}},
                                       {});
  files.idx += std::string("color\0", 6) + files.idx.substr(files.idx.find('\0', files.idx.find("colour")) + 1, 8);
  files.ifo = stardict_files({}, {}).ifo;
  files.ifo.replace(files.ifo.find("wordcount=0"), 11, "wordcount=3");
  files.ifo.replace(files.ifo.find("idxfilesize="), std::string::npos, "idxfilesize=" + std::to_string(files.idx.size()) + "\n");
  MemoryBytes dict(files.dict, "w.dict");
  DictionaryMeta meta;
  Collected read;
  auto done = read_stardict_parts(files.ifo, "w.ifo", files.idx, "w.idx", std::nullopt, "w.syn", dict, meta,
                                  [&](Article&& a) -> Result<void> {
                                    read.articles.push_back(std::move(a));
                                    return {};
                                  });
  ASSERT_TRUE(done.ok()) << done.error().message;
  ASSERT_EQ(read.articles.size(), 1u);
  EXPECT_EQ(read.articles[0].headword, "colour");
  EXPECT_EQ(read.articles[0].aliases, std::vector<std::string>{"color"});
}

TEST(StarDictTest, BrokenDictionariesAreRefusedWithTheReason) {
  const StarDictFiles good = stardict_files(sound_words(""), {});
  struct Case {
    const char* name;
    StarDictFiles files;
    bool with_syn;
    const char* message;
  };
  auto with = [&](auto change) {
    StarDictFiles files = good;
    change(files);
    return files;
  };
  auto set_ifo = [](StarDictFiles& f, const std::string& key, const std::string& value) {
    const auto at = f.ifo.find(key + "=");
    const auto end = f.ifo.find('\n', at);
    f.ifo.replace(at, end - at, key + "=" + value);
  };
  const std::vector<Case> cases = {
      {"idxfilesize differs", with([&](auto& f) { set_ifo(f, "idxfilesize", "999"); }), true, "idxfilesize 是 999"},
      {"wordcount differs", with([&](auto& f) { set_ifo(f, "wordcount", "5"); }), true, "wordcount 是 5"},
      {"an .idx cut in a record", with([&](auto& f) {
         f.idx.resize(f.idx.size() - 3);
         set_ifo(f, "idxfilesize", std::to_string(f.idx.size()));
       }), true, "被截断：第 4 条记录不完整"},
      {"a .dict shorter than the index says", with([&](auto& f) { f.dict.resize(f.dict.size() - 2); }), true,
       "指向 w.dict 的末尾之外"},
      {"synwordcount differs", with([&](auto& f) { set_ifo(f, "synwordcount", "9"); }), true, "synwordcount 是 9"},
      {"no synwordcount with a .syn", with([&](auto& f) {
         const auto at = f.ifo.find("synwordcount=");
         f.ifo.erase(at, f.ifo.find('\n', at) - at + 1);
       }), true, "缺少 synwordcount"},
      {"a synonym pointing past the words", with([&](auto& f) { f.syn[f.syn.size() - 1] = 9; }), true, "指向第 9 个词头"},
      {"a .syn cut short", with([&](auto& f) { f.syn.resize(f.syn.size() - 2); }), true, "w.syn 被截断"},
      {"a headword that is not UTF-8", with([&](auto& f) { f.idx[1] = '\xff'; }), true, "w.idx 第 1 条的词头不是有效的 UTF-8"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryBytes dict(c.files.dict, "w.dict");
    DictionaryMeta meta;
    std::size_t emitted = 0;
    auto done = read_stardict_parts(c.files.ifo, "w.ifo", c.files.idx, "w.idx",
                                    c.with_syn ? std::optional<std::string>(c.files.syn) : std::nullopt, "w.syn", dict,
                                    meta, [&](Article&&) -> Result<void> {
                                      ++emitted;
                                      return {};
                                    });
    ASSERT_FALSE(done.ok());
    EXPECT_NE(done.error().message.find(c.message), std::string::npos) << done.error().message;
    EXPECT_EQ(emitted, 0u);
  }
  // A field whose length runs past its article, in the third article: two came before it.
  StarDictFiles late = stardict_files({{"a", "mone", {}}, {"b", "mtwo", {}}, {"c", std::string("W\0\0\0\x50xx", 7), {}},
                                       {"d", "mfour", {}}},
                                      {});
  MemoryBytes dict(late.dict, "w.dict");
  DictionaryMeta meta;
  std::size_t emitted = 0;
  auto done = read_stardict_parts(late.ifo, "w.ifo", late.idx, "w.idx", std::nullopt, "w.syn", dict, meta,
                                  [&](Article&&) -> Result<void> {
                                    ++emitted;
                                    return {};
                                  });
  ASSERT_FALSE(done.ok());
  EXPECT_NE(done.error().message.find("w.dict 中的“c”"), std::string::npos) << done.error().message;
  EXPECT_EQ(emitted, 2u);
}

}  // namespace
}  // namespace ruvo::test
