// The first word as a process sees it: the exit codes, words that are not
// valid Unicode, and closed streams. Every word is covered in-process; these
// keep one of each kind for the real program (ruvo.exe under Wine too).
#include "cli/help.hpp"
#include "support/process.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ruvo::test;
using ruvo::cli::HELP_TEXT;

TEST(Entry, HelpForNoWordsAndTheHelpWords) {
  const std::vector<std::vector<std::string>> cases = {{}, {"--help"}};
  for (const auto& words : cases) {
    const RunResult r = run({.words = words});
    EXPECT_EQ(r.exit_code, 0) << ::testing::PrintToString(words);
    EXPECT_EQ(r.out, HELP_TEXT);
    EXPECT_EQ(r.err, "");
  }
}

TEST(Entry, VersionLine) {
  for (const char* word : {"--version"}) {
    const RunResult r = run({.words = {word, "ignored"}});
    EXPECT_EQ(r.exit_code, 0) << word;
    EXPECT_EQ(r.out, "ruvo 0.1.8\n");
    EXPECT_EQ(r.err, "");
  }
}

TEST(Entry, WordsThatNameNoCommand) {
  const std::vector<std::vector<std::string>> cases = {{"-v"}, {""}, {"词"}};
  for (const auto& words : cases) {
    const RunResult r = run({.words = words});
    EXPECT_EQ(r.exit_code, 2) << ::testing::PrintToString(words);
    EXPECT_EQ(r.err, "未知命令：" + words.front() + "\n");
    EXPECT_EQ(r.out, HELP_TEXT);
  }
}

TEST(Entry, InvalidUtf8WordIsReplacedNotFatal) {
  const RunResult r = run({.words = {"\xFF" "bad"}});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_FALSE(r.killed_by_signal);
  EXPECT_EQ(r.err, "未知命令：\xEF\xBF\xBD" "bad\n");
}

TEST(Entry, ClosedStandardStreamsDoNotKill) {
  // Help to a reader that has gone away, and the error line to a closed
  // standard error: no signal death, the documented exit codes.
  RunResult r = run({.words = {"help"}, .close_stdout = true});
  EXPECT_FALSE(r.killed_by_signal) << r.signal;
  EXPECT_EQ(r.exit_code, 0);
  r = run({.words = {"nope"}, .close_stdout = true, .close_stderr = true});
  EXPECT_FALSE(r.killed_by_signal) << r.signal;
  EXPECT_EQ(r.exit_code, 2);
}
