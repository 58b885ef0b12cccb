// The only place that ends ruvo: run one command, write its outcome, exit.
#include "bin/dispatch.hpp"
#include "client/client.hpp"
#include "platform/platform.hpp"

#include <string>

int main(int argc, char** argv) {
  using namespace ruvo;
  platform::init_process();
  client::LocalClient client;
  const bin::Streams streams{
      platform::read_stdin,
      [](std::string_view line) {
        // write_stdout is unbuffered: the line is on the pipe when it returns.
        // A failed write is ignored and the next line is read.
        std::string bytes(line);
        bytes.push_back('\n');
        platform::write_stdout(bytes);
      },
  };
  const cli::Outcome outcome = bin::run_ruvo(platform::command_line_words(argc, argv), client, streams);
  // A closed stream changes nothing: the exit code still tells.
  if (!outcome.err.empty()) platform::write_stderr(outcome.err);
  if (!outcome.out.empty()) platform::write_stdout(outcome.out);
  platform::exit_process(outcome.exit_code);
}
