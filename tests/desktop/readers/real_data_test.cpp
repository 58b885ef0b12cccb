// The readers on Debian's own dictionary packages, when they are installed (dict-foldoc, dict-vera,
// dict-jargon, stardict-czech; scripts/install-deps.sh installs them): each is read whole and a few
// articles are what the files say. RUVO_TEST_DICTIONARY_ROOT points at another /usr/share.
#include "readers/dictionary.hpp"

#include "desktop/readers/collect.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace ruvo::test {
namespace {

using namespace desktop::readers;

std::string share(const std::string& rest) {
  const char* root = std::getenv("RUVO_TEST_DICTIONARY_ROOT");
  return std::string(root != nullptr ? root : "/usr/share") + "/" + rest;
}

Collected read_if_there(const std::string& path, Format format) {
  if (!std::filesystem::exists(path)) return Collected{{}, {}, "absent"};
  auto found = find_dictionaries(path);
  if (!found) return Collected{{}, {}, found.error().message};
  if (found->size() != 1 || (*found)[0].format != format) return Collected{{}, {}, "not recognised"};
  return collect_found((*found)[0]);
}

TEST(RealDataTest, Foldoc) {
  const Collected read = read_if_there(share("dictd/foldoc.index"), Format::kDictd);
  if (read.error == "absent") GTEST_SKIP() << "dict-foldoc is not installed";
  ASSERT_EQ(read.error, "");
  EXPECT_EQ(read.meta.name.rfind("The Free On-line Dictionary of Computing", 0), 0u) << read.meta.name;
  EXPECT_NE(read.meta.info.find("GNU Free Documentation"), std::string::npos);
  std::size_t names = 0;
  for (const auto& a : read.articles) names += 1 + a.aliases.size();
  EXPECT_GT(read.articles.size(), 10000u);
  EXPECT_GT(names, 14000u);
  const Article* deadlock = article_named(read, "deadlock");
  ASSERT_NE(deadlock, nullptr);
  EXPECT_NE(std::find(deadlock->aliases.begin(), deadlock->aliases.end(), "deadly embrace"), deadlock->aliases.end());
  EXPECT_NE(std::find(deadlock->see_also.begin(), deadlock->see_also.end(), "livelock"), deadlock->see_also.end());
  EXPECT_EQ(deadlock->text.find('{'), std::string::npos);
  // Case variants stay apart: the lock and the music typesetter.
  ASSERT_NE(article_named(read, "mutex"), nullptr);
  ASSERT_NE(article_named(read, "MuTeX"), nullptr);
  EXPECT_NE(article_named(read, "MuTeX")->text.find("music"), std::string::npos);
  for (const auto& a : read.articles) EXPECT_NE(a.headword.rfind("00-database", 0), 0u);
}

TEST(RealDataTest, VeraAndJargon) {
  const Collected vera = read_if_there(share("dictd/vera.index"), Format::kDictd);
  if (vera.error != "absent") {
    ASSERT_EQ(vera.error, "");
    EXPECT_EQ(vera.meta.name.rfind("V.E.R.A.", 0), 0u);
    int tcp = 0;
    for (const auto& a : vera.articles) tcp += a.headword == "TCP";
    EXPECT_GE(tcp, 2);  // several expansions, each its own article, spelled as the file spells them
  }
  const Collected jargon = read_if_there(share("dictd/jargon.index"), Format::kDictd);
  if (jargon.error != "absent") {
    ASSERT_EQ(jargon.error, "");
    EXPECT_EQ(jargon.meta.name.rfind("The Jargon File", 0), 0u);
    ASSERT_NE(article_named(jargon, "deadlock"), nullptr);
  }
  if (vera.error == "absent" && jargon.error == "absent") GTEST_SKIP() << "dict-vera and dict-jargon are not installed";
}

TEST(RealDataTest, StarDictCzech) {
  const Collected read = read_if_there(share("stardict/dic/czech-cizi.ifo"), Format::kStarDict);
  if (read.error == "absent") GTEST_SKIP() << "stardict-czech is not installed";
  ASSERT_EQ(read.error, "");
  ASSERT_TRUE(read.meta.declared_entries.has_value());
  std::size_t names = 0;
  for (const auto& a : read.articles) names += 1 + a.aliases.size();
  EXPECT_EQ(names, *read.meta.declared_entries);
  const Article* capella = article_named(read, "a capella");
  ASSERT_NE(capella, nullptr);
  EXPECT_EQ(capella->text.find('<'), std::string::npos);
  EXPECT_NE(capella->html.find("<b>"), std::string::npos);
}

}  // namespace
}  // namespace ruvo::test
