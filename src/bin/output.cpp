#include "bin/output.hpp"

#include "platform/platform.hpp"

#include <string>

namespace ruvo::bin {

void fail_and_exit(std::string_view message) {
  // A closed standard error changes nothing: the exit code still tells.
  std::string line(message);
  line += '\n';
  platform::write_stderr(line);
  platform::exit_process(1);
}

void print_pretty_json(const common::JsonValue& value) {
  std::string text = common::to_pretty(value);
  text += '\n';
  platform::write_stdout(text);
}

}  // namespace ruvo::bin
