#include "mcp/line_reader.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace ruvo::mcp {
namespace {

// Hands out the scripted chunks one read at a time (each cut to the reader's
// capacity), then an error if one is scripted, else the end of input.
struct ScriptedInput {
  std::vector<std::string> chunks;
  bool fail_at_end = false;
  std::size_t next = 0;
  std::size_t offset = 0;
  int reads_after_end = 0;

  platform::Result<std::size_t> read(char* buffer, std::size_t capacity) {
    if (next == chunks.size()) {
      ++reads_after_end;
      if (fail_at_end) return platform::Error{"Input/output error", 5};
      return std::size_t{0};
    }
    const std::string& chunk = chunks[next];
    const std::size_t count = std::min(capacity, chunk.size() - offset);
    std::memcpy(buffer, chunk.data() + offset, count);
    offset += count;
    if (offset == chunk.size()) {
      ++next;
      offset = 0;
    }
    return count;
  }
};

std::vector<std::string> all_lines(ScriptedInput& input) {
  LineReader reader([&input](char* b, std::size_t n) { return input.read(b, n); });
  std::vector<std::string> lines;
  while (auto line = reader.next_line()) lines.push_back(*line);
  EXPECT_FALSE(reader.next_line().has_value()) << "nothing more after the end";
  return lines;
}

TEST(LineReader, SplitsAtLineFeedsWhateverTheChunks) {
  struct Case {
    std::vector<std::string> chunks;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {{}, {}},
      {{""}, {}},
      {{"a\n"}, {"a\n"}},
      {{"a\nb\n"}, {"a\n", "b\n"}},
      {{"a", "b\n", "c"}, {"ab\n", "c"}},
      {{"\n\n"}, {"\n", "\n"}},
      {{"x\r\n", "y"}, {"x\r\n", "y"}},
      {{"no line feed at all"}, {"no line feed at all"}},
      {{"a\n", "", "b\n"}, {"a\n"}},  // a read of nothing is the end of input
  };
  for (const auto& c : cases) {
    ScriptedInput input{c.chunks};
    EXPECT_EQ(all_lines(input), c.lines) << "chunks: " << ::testing::PrintToString(c.chunks);
  }
}

TEST(LineReader, LinesLongerThanManyChunksArriveWhole) {
  const std::string long_line(5 * LineReader::kChunkBytes + 17, 'x');
  ScriptedInput input{{"first\n" + long_line.substr(0, 1000), long_line.substr(1000) + "\nlast\n"}};
  EXPECT_EQ(all_lines(input), (std::vector<std::string>{"first\n", long_line + "\n", "last\n"}));
}

TEST(LineReader, ManyShortLinesInOneChunk) {
  std::string chunk;
  std::vector<std::string> expected;
  for (int i = 0; i < 20000; ++i) {
    expected.push_back(std::to_string(i) + "\n");
    chunk += expected.back();
  }
  ScriptedInput input{{chunk}};
  EXPECT_EQ(all_lines(input), expected);
}

TEST(LineReader, ReadErrorEndsInputAndDropsUnfinishedLine) {
  ScriptedInput input{{"done\n", "half a li"}, true};
  EXPECT_EQ(all_lines(input), std::vector<std::string>{"done\n"});
}

TEST(LineReader, DoesNotReadAgainAfterTheEnd) {
  ScriptedInput input{{"a\n"}};
  LineReader reader([&input](char* b, std::size_t n) { return input.read(b, n); });
  EXPECT_EQ(reader.next_line(), std::optional<std::string>("a\n"));
  EXPECT_EQ(reader.next_line(), std::nullopt);
  EXPECT_EQ(reader.next_line(), std::nullopt);
  EXPECT_EQ(input.reads_after_end, 1);
}

}  // namespace
}  // namespace ruvo::mcp
