// What a person at a terminal sees while a command waits for the local
// service: after half a second, one line on standard error with a turning
// bar, what is awaited and the seconds so far, redrawn in place and erased
// before anything else is written. Only a command given somewhere to show it
// (standard error when it is a terminal) ever writes it; elsewhere nothing
// changes, not one byte.
#pragma once

#include "client/wait.hpp"

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace ruvo::cli {

// Where the line goes: straight to the terminal, at once. Empty: nowhere.
using ShowFunction = std::function<void(std::string_view bytes)>;
// Time on a clock that never goes back.
using ClockFunction = std::function<std::chrono::milliseconds()>;

struct WaitDisplay {
  ShowFunction show;    // empty: the wait is never shown
  ClockFunction clock;  // empty: the system's steady clock
};

inline constexpr std::chrono::milliseconds kWaitShownAfter{500};

// The line for a wait of `elapsed` so far: bar, label, whole seconds
// (rounded), e.g. "| 正在解释，已等 3 秒". No control character in it.
std::string wait_line_text(client::Waiting what, std::chrono::milliseconds elapsed);

// The columns the line takes on a terminal: one for each ASCII character,
// two for each other one (the lines hold only CJK characters and full-width
// punctuation besides ASCII).
std::size_t terminal_columns(std::string_view text);

class WaitLine {
 public:
  // The wait is timed from here.
  explicit WaitLine(WaitDisplay display);
  // Erases the line if it is still shown.
  ~WaitLine();
  WaitLine(const WaitLine&) = delete;
  WaitLine& operator=(const WaitLine&) = delete;

  // What to give the client: updates the line as the wait goes on; empty
  // when there is nowhere to show it.
  client::OnWait listener();

  // Once the wait has lasted kWaitShownAfter: draws the line for `what` at
  // the start of the terminal's line ("\r" and the text, padded with spaces
  // over a longer line drawn before), unless it would read as it does.
  void update(client::Waiting what);

  // Removes a shown line ("\r", spaces over it, "\r"), leaving the cursor at
  // the start of an empty line; nothing when none is shown.
  void erase();

 private:
  std::chrono::milliseconds now() const;

  WaitDisplay display_;
  std::chrono::milliseconds start_;
  std::string drawn_;            // the text on screen; empty when none is
  std::size_t drawn_columns_ = 0;  // the widest line drawn since the last erase
};

}  // namespace ruvo::cli
