// Recognising dictionaries: any of a dictionary's files names it, a folder lists all in it.
#include "readers/dictionary.hpp"

#include "desktop/readers/writers.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <filesystem>

namespace ruvo::test {
namespace {

using namespace desktop::readers;

// A folder with one dictionary of each format (StarDict in a subfolder), and files that are none.
class DetectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const DictdFiles dictd = dictd_files({{{"word"}, "word\n   a word\n"}}, "Words of dictd");
    ASSERT_TRUE(write_bytes(dir_.file("words.index"), dictd.index));
    ASSERT_TRUE(write_bytes(dir_.file("words.dict.dz"), dictzip_bytes(dictd.dict, 1000)));
    std::filesystem::create_directories(dir_.file("star/deeper"));
    StarDictOptions options;
    options.bookname = "Star Words";
    const StarDictFiles star = stardict_files({{"w", stardict_text_field('m', "x"), {"v"}}}, options);
    ASSERT_TRUE(write_bytes(dir_.file("star/deeper/w.ifo"), star.ifo));
    ASSERT_TRUE(write_bytes(dir_.file("star/deeper/w.idx"), star.idx));
    ASSERT_TRUE(write_bytes(dir_.file("star/deeper/w.syn"), star.syn));
    ASSERT_TRUE(write_bytes(dir_.file("star/deeper/w.dict"), star.dict));
    MdictOptions mdict;
    mdict.title = "M Words";
    ASSERT_TRUE(write_bytes(dir_.file("m.mdx"), mdict_bytes({{"a", "b"}}, mdict)));
    ASSERT_TRUE(write_bytes(dir_.file("m.mdd"), "resources"));
    ASSERT_TRUE(write_bytes(dir_.file("cedict_ts.u8.gz"), gzip_bytes("# CC-CEDICT\n你好 你好 [ni3 hao3] /hello/\n")));
    ASSERT_TRUE(write_bytes(dir_.file("notes.txt"), "nothing to see\n"));
    ASSERT_TRUE(write_bytes(dir_.file("lonely.dict"), "no index beside me"));
  }
  TempDir dir_;
};

TEST_F(DetectTest, AFolderListsEachDictionaryOnce) {
  auto found = find_dictionaries(dir_.path());
  ASSERT_TRUE(found.ok()) << found.error().message;
  ASSERT_EQ(found->size(), 4u);
  std::vector<std::tuple<Format, std::string, std::string>> seen;
  for (const auto& f : *found) seen.emplace_back(f.format, f.path, f.name);
  const std::vector<std::tuple<Format, std::string, std::string>> expected = {
      {Format::kCedict, dir_.file("cedict_ts.u8.gz"), "CC-CEDICT"},
      {Format::kMdict, dir_.file("m.mdx"), "M Words"},
      {Format::kStarDict, dir_.file("star/deeper/w.ifo"), "Star Words"},
      {Format::kDictd, dir_.file("words.index"), "Words of dictd"},
  };
  EXPECT_EQ(seen, expected);
}

TEST_F(DetectTest, AnyFileOfADictionaryNamesIt) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"words.index", "words.index"},           {"words.dict.dz", "words.index"},
      {"star/deeper/w.idx", "star/deeper/w.ifo"}, {"star/deeper/w.syn", "star/deeper/w.ifo"},
      {"star/deeper/w.dict", "star/deeper/w.ifo"}, {"m.mdd", "m.mdx"},
      {"cedict_ts.u8.gz", "cedict_ts.u8.gz"},
  };
  for (const auto& [given, main] : cases) {
    auto found = find_dictionaries(dir_.file(given));
    ASSERT_TRUE(found.ok()) << given << ": " << found.error().message;
    ASSERT_EQ(found->size(), 1u);
    EXPECT_EQ((*found)[0].path, dir_.file(main)) << given;
  }
}

TEST_F(DetectTest, WhatIsNoDictionarySaysWhy) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {dir_.file("notes.txt"), "无法识别 notes.txt"},
      {dir_.file("lonely.dict"), "lonely.dict 旁边没有 .index（dictd）或 .ifo（StarDict）文件"},
      {dir_.file("missing.mdx"), "找不到 "},
      {dir_.file("gone"), "找不到 "},
  };
  for (const auto& [path, message] : cases) {
    auto found = find_dictionaries(path);
    ASSERT_FALSE(found.ok()) << path;
    EXPECT_NE(found.error().message.find(message), std::string::npos) << found.error().message;
  }
  ASSERT_TRUE(write_bytes(dir_.file("fake.ifo"), "not an ifo\n"));
  auto fake = find_dictionaries(dir_.file("fake.ifo"));
  ASSERT_FALSE(fake.ok());
  EXPECT_NE(fake.error().message.find("不是 StarDict 的 .ifo 文件"), std::string::npos);
  TempDir empty;
  auto none = find_dictionaries(empty.path());
  ASSERT_TRUE(none.ok());
  EXPECT_TRUE(none->empty());
}

TEST_F(DetectTest, FoldersDeeperThanTheBoundAreNotSearched) {
  std::string deep = dir_.file("d1/d2/d3/d4/d5");
  std::filesystem::create_directories(deep);
  ASSERT_TRUE(write_bytes(deep + "/x.mdx", mdict_bytes({{"a", "b"}}, {})));
  auto found = find_dictionaries(dir_.path());
  ASSERT_TRUE(found.ok());
  for (const auto& f : *found) EXPECT_NE(f.path, deep + "/x.mdx");
  auto nearer = find_dictionaries(dir_.file("d1/d2"));  // d2 d3 d4 d5: four levels
  ASSERT_TRUE(nearer.ok());
  ASSERT_EQ(nearer->size(), 1u);
}

}  // namespace
}  // namespace ruvo::test
