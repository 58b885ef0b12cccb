// What ruvo does with its words: one table from the first word to its command.
#pragma once

#include "cli/hint_line.hpp"
#include "cli/outcome.hpp"
#include "cli/wait_line.hpp"
#include "client/client.hpp"
#include "platform/platform.hpp"

#include <functional>
#include <string_view>

namespace ruvo::bin {

// Where a command's streams go while it runs: standard input for `explain -`
// and `mcp`, the line sink through which `mcp` answers as it goes, and where
// `explain` shows a person that it is still waiting (standard error when it
// is a terminal; empty otherwise, and then nothing is shown). `hints` is
// kShown when standard error is a terminal: lookup and explain then end with
// a hint line there.
struct Streams {
  platform::ReadFunction input;
  std::function<void(std::string_view line)> write_line;
  cli::ShowFunction show_wait;
  cli::Hints hints = cli::Hints::kNone;
};

// Runs the command named by the first word. No word is help; a word that
// names no command gives "未知命令：<word>" on standard error, the help text
// on standard output and exit code 2.
cli::Outcome run_ruvo(const cli::Words& words, client::Client& client, const Streams& streams);

}  // namespace ruvo::bin
