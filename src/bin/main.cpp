// The only place that ends ruvo: run one command, write its outcome, exit.
#include "bin/dispatch.hpp"
#include "client/client.hpp"
#include "common/utf8.hpp"
#include "platform/platform.hpp"

#include <string>

namespace {

// What anyone who can save a term wrote reaches the person's screen; on a
// terminal its control characters are shown, not obeyed. Pipes and files get
// the bytes exactly as they are.
std::string for_stream(std::string_view bytes, bool terminal) {
  return terminal ? ruvo::common::terminal_safe(bytes) : std::string(bytes);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace ruvo;
  platform::init_process();
  const bool out_terminal = platform::stdout_is_terminal();
  const bool err_terminal = platform::stderr_is_terminal();
  client::LocalClient client;
  const bin::Streams streams{
      platform::read_stdin,
      [out_terminal](std::string_view line) {
        // write_stdout is unbuffered: the line is on the pipe when it returns.
        // A failed write is ignored and the next line is read.
        std::string bytes = for_stream(line, out_terminal);
        bytes.push_back('\n');
        platform::write_stdout(bytes);
      },
      // The wait line is ours, not text from the service: written as it is,
      // and only to a person's terminal.
      err_terminal ? cli::ShowFunction([](std::string_view bytes) { platform::write_stderr(bytes); })
                   : cli::ShowFunction(),
      err_terminal ? cli::Hints::kShown : cli::Hints::kNone,
  };
  const cli::Outcome outcome = bin::run_ruvo(platform::command_line_words(argc, argv), client, streams);
  // A closed stream changes nothing: the exit code still tells.
  if (!outcome.err.empty()) platform::write_stderr(for_stream(outcome.err, err_terminal));
  if (!outcome.out.empty()) platform::write_stdout(for_stream(outcome.out, out_terminal));
  // The hint line comes last, after what it speaks of, and only a terminal
  // is given one.
  if (!outcome.note.empty()) platform::write_stderr(for_stream(outcome.note, err_terminal));
  platform::exit_process(outcome.exit_code);
}
