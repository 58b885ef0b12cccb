#include "platform/win_text.hpp"

#include "common/utf8.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ruvo::platform::win {
namespace {

const std::string kReplacementUtf8 = "\xEF\xBF\xBD";

// ---- UTF-8 and UTF-16 ----

TEST(Utf8ToUtf16, ValidTextMatchesTheCompilersEncodingAndRoundTrips) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
  };
  const Case cases[] = {
      {"", u""},
      {"plain ASCII", u"plain ASCII"},
      {std::string("nul\0inside", 10), std::u16string(u"nul\0inside", 10)},
      {"\xC3\xA4\xC3\xB6", u"\u00E4\u00F6"},                          // two-byte
      {"\xE5\x90\x91\xE9\x87\x8F", u"\u5411\u91CF"},                  // three-byte: 向量
      {"\xF0\x9F\x98\x80", u"\U0001F600"},                            // four-byte
      {"a\xF0\x9F\x98\x80\xE4\xB8\xAD\xF4\x8F\xBF\xBF", u"a\U0001F600\u4E2D\U0010FFFF"},
      {"\xEF\xBF\xBF\xEE\x80\x80", u"\uFFFF\uE000"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8_to_utf16(c.utf8), c.utf16) << c.utf8;
    EXPECT_EQ(utf16_to_utf8(c.utf16), c.utf8) << c.utf8;
  }
}

TEST(Utf8ToUtf16, EachIllFormedPartBecomesOneReplacementCharacter) {
  struct Case {
    std::string utf8;
    std::u16string utf16;
  };
  const Case cases[] = {
      {"\xC3", u"\uFFFD"},                                  // cut two-byte sequence
      {"a\xE4\xB8", u"a\uFFFD"},                            // cut three-byte sequence, one part
      {"\xF0\x9F\x98", u"\uFFFD"},                          // cut four-byte sequence
      {"\xF0\x9F\x98" "b", u"\uFFFD" "b"},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},              // an encoded surrogate
      {"\xC0\xAF", u"\uFFFD\uFFFD"},                        // overlong
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},    // above U+10FFFF
      {"\xFF" "x\x80", u"\uFFFD" "x\uFFFD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(utf8_to_utf16(c.utf8), c.utf16) << testing::PrintToString(c.utf8);
    // Back to UTF-8 it is what the shared repair of UTF-8 gives.
    EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(c.utf8)), common::to_valid_utf8(c.utf8));
  }
}

TEST(Utf16ToUtf8, UnpairedSurrogatesBecomeReplacementCharacters) {
  const std::string smile = "\xF0\x9F\x98\x80";
  struct Case {
    std::u16string utf16;
    std::string utf8;
  };
  const Case cases[] = {
      {{0xD800}, kReplacementUtf8},
      {{0xDC00}, kReplacementUtf8},
      {{u'a', 0xD83D, u'b'}, "a" + kReplacementUtf8 + "b"},
      {{0xD83D, 0xD83D, 0xDE00}, kReplacementUtf8 + smile},  // the second high pairs
      {{0xDE00, 0xD83D}, kReplacementUtf8 + kReplacementUtf8},
      {{0xD83D, 0xDE00, 0xDE00}, smile + kReplacementUtf8},
  };
  for (const auto& c : cases) {
    const std::string out = utf16_to_utf8(c.utf16);
    EXPECT_EQ(out, c.utf8);
    EXPECT_TRUE(common::is_valid_utf8(out));
  }
}

// ---- the streaming converter ----

TEST(Utf8ToUtf16Stream, AnySplitOfTheBytesGivesTheWholeConversion) {
  const std::string texts[] = {
      "\xE5\x90\x91\xE9\x87\x8F\xE6\x95\xB0\xE6\x8D\xAE\xE5\xBA\x93",  // 向量数据库
      "a\xF0\x9F\x98\x80" "b\xC3\xA4\n",
      "\xF0\x9F\x98" "x\xE4\xB8\xFF\xED\xA0\x80\xC3",                   // ill-formed parts
  };
  for (const auto& text : texts) {
    const std::u16string whole = utf8_to_utf16(text);
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
      Utf8ToUtf16Stream stream;
      std::u16string out = stream.feed(text.substr(0, cut));
      out += stream.feed(text.substr(cut));
      out += stream.finish();
      EXPECT_EQ(out, whole) << "cut at " << cut;
    }
    Utf8ToUtf16Stream bytewise;
    std::u16string out;
    for (const char byte : text) out += bytewise.feed(std::string(1, byte));
    out += bytewise.finish();
    EXPECT_EQ(out, whole);
  }
}

TEST(Utf8ToUtf16Stream, KeepsACutSequenceUntilItIsComplete) {
  Utf8ToUtf16Stream stream;
  EXPECT_EQ(stream.feed("ok \xF0\x9F"), u"ok ");
  EXPECT_EQ(stream.feed("\x98"), u"");
  EXPECT_EQ(stream.feed("\x80!"), u"\U0001F600!");
  EXPECT_EQ(stream.finish(), u"");

  // Bytes that no later byte can make valid are not held back.
  EXPECT_EQ(stream.feed("x\xE0\x80"), u"x\uFFFD\uFFFD");
  EXPECT_EQ(stream.feed("\xC3\xA4\x80"), u"\u00E4\uFFFD");
  EXPECT_EQ(stream.feed("\xF4\x90"), u"\uFFFD\uFFFD");

  // A cut sequence that never completes shows as one replacement character.
  EXPECT_EQ(stream.feed("\xE4\xB8"), u"");
  EXPECT_EQ(stream.finish(), u"\uFFFD");
  EXPECT_EQ(stream.feed("z"), u"z");
}

// ---- console input ----

TEST(ConsoleInputDecoder, TurnsTypedLinesIntoUtf8Lines) {
  struct Case {
    std::vector<std::u16string> pieces;
    std::string bytes;
    bool ended;
  };
  const Case cases[] = {
      {{u"abc\r\n"}, "abc\n", false},
      {{u"ab\r", u"\ncd"}, "ab\ncd", false},
      {{u"a\rb"}, "a\rb", false},
      {{u"\u5411\u91CF\r\n"}, "\xE5\x90\x91\xE9\x87\x8F\n", false},
      {{std::u16string{0xD83D}, std::u16string{0xDE00}}, "\xF0\x9F\x98\x80", false},
      {{std::u16string{0xD83D, u'a'}}, kReplacementUtf8 + "a", false},
      {{u"\x1A\r\n", u"more\r\n"}, "", true},
      {{u"line\r\n\x1A\r\nafter"}, "line\n", true},
      {{u"line\r", u"\n", u"\x1A"}, "line\n", true},
      {{u"a\x1A\r\n"}, "a\x1A\n", false},  // Ctrl+Z ends input only at a line start
  };
  for (const auto& c : cases) {
    ConsoleInputDecoder decoder;
    std::string out;
    for (const auto& piece : c.pieces) out += decoder.feed(piece);
    EXPECT_EQ(out, c.bytes) << testing::PrintToString(c.bytes);
    EXPECT_EQ(decoder.ended(), c.ended) << testing::PrintToString(c.bytes);
  }
}

// ---- command lines ----

TEST(SplitCommandLine, FollowsTheWindowsRules) {
  struct Case {
    std::string line;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"", {}},
      {"prog", {"prog"}},
      {"prog   ", {"prog"}},
      {R"(prog "abc" d e)", {"prog", "abc", "d", "e"}},
      {R"(prog a\\b d"e f"g h)", {"prog", R"(a\\b)", "de fg", "h"}},
      {R"(prog a\\\"b c d)", {"prog", R"(a\"b)", "c", "d"}},
      {R"(prog a\\\\"b c" d e)", {"prog", R"(a\\b c)", "d", "e"}},
      {R"(prog "ab\"c" "\\" d)", {"prog", R"(ab"c)", R"(\)", "d"}},
      {"prog \"\" \t x", {"prog", "", "x"}},
      {R"(prog a"b"" c d)", {"prog", R"(ab")", "c", "d"}},  // "" inside quoting ends it
      {R"(prog """a""")", {"prog", R"("a")"}},
      // The program's name has no escapes and ends at its closing quote.
      {R"("C:\Program Files\dir\" x)", {R"(C:\Program Files\dir\)", "x"}},
      {R"("C:\a b\p.exe"next)", {R"(C:\a b\p.exe)", "next"}},
      {"\tprog x", {"", "prog", "x"}},
  };
  for (const auto& c : cases) EXPECT_EQ(split_command_line(c.line), c.words) << c.line;
}

TEST(BuildCommandLine, SplittingGivesBackProgramAndArguments) {
  const std::string program = R"(C:\Program Files\Ruvo tools\corvanta.exe)";
  const std::vector<std::string> args = {
      "--service",
      "",
      "two words",
      R"(a"b)",
      R"(")",
      R"("")",
      R"(\")",
      R"(\\"x)",
      R"(trailing\)",
      R"(trailing\\)",
      R"(C:\folder with space\)",
      R"(\\server\share\x)",
      "tab\there",
      "\xE5\x90\x91\xE9\x87\x8F \xE6\x95\xB0\xE6\x8D\xAE",
  };
  for (const auto& arg : args) {
    const std::vector<std::string> expected = {program, arg};
    EXPECT_EQ(split_command_line(build_command_line(program, {arg})), expected) << arg;
  }
  std::vector<std::string> all = {program};
  all.insert(all.end(), args.begin(), args.end());
  EXPECT_EQ(split_command_line(build_command_line(program, args)), all);
  EXPECT_EQ(split_command_line(build_command_line(program, {})), std::vector<std::string>{program});
}

TEST(QuoteArgument, LeavesSimpleArgumentsAlone) {
  for (const std::string arg : {"--service", R"(C:\dir\corvanta.exe)", "a\\b"}) {
    EXPECT_EQ(quote_argument(arg), arg);
  }
  EXPECT_EQ(quote_argument(""), "\"\"");
}

// ---- environment blocks ----

TEST(EnvironmentBlock, OverridesCaseInsensitivelyAndSortsByName) {
  const std::vector<std::u16string> current = {
      u"Path=C:\\bin",
      u"=C:=C:\\work",
      u"WEBVIEW2_user_data_folder=old",
      u"b=x=y",
      u"A=1",
  };
  const std::u16string block =
      environment_block(current, {{u"WEBVIEW2_USER_DATA_FOLDER", u"C:\\data\\wv2-service"}});
  const std::u16string expected = std::u16string(u"=C:=C:\\work") + u'\0' + u"A=1" + u'\0' + u"b=x=y" + u'\0' +
                                  u"Path=C:\\bin" + u'\0' + u"WEBVIEW2_USER_DATA_FOLDER=C:\\data\\wv2-service" +
                                  u'\0' + u'\0';
  EXPECT_EQ(block, expected);
}

TEST(EnvironmentBlock, EmptyBlockHasItsTwoTerminators) {
  EXPECT_EQ(environment_block({}, {}), std::u16string(2, u'\0'));
}

// ---- paths and messages ----

TEST(ParentFolder, HandlesBothSeparatorsAndRoots) {
  struct Case {
    std::string path;
    std::optional<std::string> parent;
  };
  const Case cases[] = {
      {R"(C:\Program Files\Ruvo\ruvo.exe)", R"(C:\Program Files\Ruvo)"},
      {"C:/tools/ruvo.exe", "C:/tools"},
      {R"(C:\a/b\ruvo.exe)", R"(C:\a/b)"},
      {R"(C:\a\b/ruvo.exe)", R"(C:\a\b)"},
      {R"(C:\ruvo.exe)", R"(C:\)"},
      {R"(C:\)", R"(C:\)"},
      {R"(\ruvo.exe)", R"(\)"},
      {R"(C:\a\)", R"(C:\a)"},
      {R"(\\server\share\ruvo.exe)", R"(\\server\share)"},
      {"ruvo.exe", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parent_folder(c.path), c.parent) << c.path;
}

TEST(OneLineMessage, DropsLineBreaksOnly) {
  struct Case {
    std::string raw;
    std::string line;
  };
  const Case cases[] = {
      {"The system cannot find the file specified.\r\n", "The system cannot find the file specified."},
      {"Ends in a space. \r\n", "Ends in a space. "},
      {"First line.\r\nSecond line.\r\n", "First line. Second line."},
      {"No break", "No break"},
      {"\r\n", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(one_line_message(c.raw), c.line);
}

}  // namespace
}  // namespace ruvo::platform::win
