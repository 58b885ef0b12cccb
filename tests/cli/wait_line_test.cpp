// The wait line a person sees on a terminal: its text, when it is drawn and
// redrawn, how it is erased, and that `ruvo explain` gives the same Outcome
// with it as without.
#include "cli/explain.hpp"
#include "cli/wait_line.hpp"
#include "support/scripted_client.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ruvo::cli {
namespace {

using client::Waiting;
using std::chrono::milliseconds;

TEST(WaitLineText, Table) {
  struct Case {
    Waiting what;
    int elapsed_ms;
    std::string text;
    std::size_t columns;
  };
  const Case cases[] = {
      {Waiting::kReply, 500, "/ 正在解释，已等 1 秒", 21},
      {Waiting::kReply, 1499, "- 正在解释，已等 1 秒", 21},
      {Waiting::kReply, 80000, "| 正在解释，已等 80 秒", 22},
      {Waiting::kStartedService, 2300, "\\ 正在启动 Ruvo 服务，已等 2 秒", 31},
      {Waiting::kService, 600, "- 正在连接 Ruvo 服务，已等 1 秒", 31},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.elapsed_ms);
    const std::string text = wait_line_text(c.what, milliseconds(c.elapsed_ms));
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(terminal_columns(text), c.columns);
  }
}

// A clock the test moves and a terminal that keeps what it is sent.
struct Screen {
  milliseconds now{1000};
  std::vector<std::string> writes;
  WaitDisplay display() {
    return {[this](std::string_view bytes) { writes.emplace_back(bytes); }, [this] { return now; }};
  }
};

TEST(WaitLine, DrawsAfterHalfASecondRedrawsOnChangeAndErasesOnce) {
  Screen screen;
  WaitLine line(screen.display());
  const auto at = [&](int ms, Waiting what) {
    screen.now = milliseconds(1000 + ms);
    line.update(what);
  };
  at(100, Waiting::kStartedService);
  at(499, Waiting::kStartedService);
  EXPECT_TRUE(screen.writes.empty());

  at(500, Waiting::kStartedService);
  at(550, Waiting::kStartedService);  // reads the same: not drawn again
  at(600, Waiting::kReply);           // shorter: spaces over the rest of the longer line
  ASSERT_EQ(screen.writes.size(), 2u);
  EXPECT_EQ(screen.writes[0], "\r/ 正在启动 Ruvo 服务，已等 1 秒");
  EXPECT_EQ(screen.writes[1], "\r- 正在解释，已等 1 秒" + std::string(10, ' '));

  line.erase();
  line.erase();
  ASSERT_EQ(screen.writes.size(), 3u);
  EXPECT_EQ(screen.writes[2], "\r" + std::string(31, ' ') + "\r");

  // A wait after the erase is drawn afresh and erased by the destructor.
  at(1700, Waiting::kReply);
  EXPECT_EQ(screen.writes.size(), 4u);
}

TEST(WaitLine, TheDestructorErasesAShownLine) {
  Screen screen;
  {
    WaitLine line(screen.display());
    screen.now += milliseconds(700);
    line.update(Waiting::kReply);
  }
  ASSERT_EQ(screen.writes.size(), 2u);
  EXPECT_EQ(screen.writes[1], "\r" + std::string(21, ' ') + "\r");
}

TEST(WaitLine, WithNowhereToShowItListensToNothing) {
  WaitLine line(WaitDisplay{});
  EXPECT_FALSE(line.listener());
  line.update(Waiting::kReply);  // nowhere to write: nothing happens
}

platform::ReadFunction no_input() {
  return [](char*, std::size_t) -> common::Result<std::size_t> { return std::size_t{0}; };
}

TEST(ExplainWaitLine, TheOutcomeIsTheSameAndTheLineIsGoneFirst) {
  struct Case {
    const char* name;
    bool service_up;
    common::Result<common::JsonValue> reply;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"an explanation", true, common::JsonValue::parse(R"({"ok":true,"term":"T","source":"model"})"), {"T"}},
      {"--json", true, common::JsonValue::parse(R"({"ok":false,"message":"m"})"), {"T", "--json"}},
      {"a failed exchange", true, common::failure("read: Resource temporarily unavailable (os error 11)"), {"T"}},
      {"no service", false, common::JsonValue(), {"T"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScriptedClient quiet;
    quiet.service_up = c.service_up;
    quiet.reply = c.reply;
    const Outcome expected = run_explain(c.words, quiet, no_input());

    // Every wait the client reports moves the clock on by 300 ms.
    Screen screen;
    test::ScriptedClient slow = quiet;
    slow.waits = 4;
    WaitDisplay display = screen.display();
    display.clock = [&screen] { return screen.now += milliseconds(300); };
    EXPECT_EQ(run_explain(c.words, slow, no_input(), display), expected);
    ASSERT_GE(screen.writes.size(), 2u);
    EXPECT_NE(screen.writes.front().find("正在连接 Ruvo 服务"), std::string::npos) << screen.writes.front();
    EXPECT_EQ(screen.writes.back().front(), '\r');
    EXPECT_EQ(screen.writes.back().back(), '\r');
    EXPECT_EQ(screen.writes.back().find_first_not_of(" \r"), std::string::npos);
  }
}

}  // namespace
}  // namespace ruvo::cli
