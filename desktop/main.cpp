// ruvo-gui.exe: the local term service that ruvo starts beside it, and on
// Linux the desktop application itself. One table of the words it accepts.
#include "commands/dictionaries.hpp"
#include "commands/export_import.hpp"
#include "commands/open.hpp"
#include "commands/serve.hpp"
#include "commands/stop.hpp"
#include "commands/usage.hpp"
#include "platform/platform.hpp"
#include "protocol/programs.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace ruvo::desktop::commands;

struct Command {
  std::string_view word;
  int (*run)();
};

constexpr Command kCommands[] = {
    {ruvo::protocol::kServiceArgument, run_service},
    {"--open", run_open},
    {"--stop", run_stop},
    {"--url", run_url},
    {"--help", show_help},
    {"-h", show_help},
    {"--version", show_version},
    {"-V", show_version},
};

// No word or "--open" opens the interface in the browser and "--url" prints
// a sign-in address (open.hpp); "--service" runs the service; "--stop" stops
// it (stop.hpp); "--help"/"-h"
// and "--version"/"-V" write to standard output and give 0; "--export FILE"
// and "--import FILE [--format F]" move entries out of and into the store
// (export_import.hpp); "--add-dictionary PATH…", "--dictionaries" and
// "--remove-dictionary ID" handle dictionaries (dictionaries.hpp); any other
// words give the usage line and 2.
int run(const std::vector<std::string>& words) {
  if (words.empty()) return run_open();
  if (words.size() == 2 && words[0] == "--export") return run_export(words[1]);
  if (words.size() == 2 && words[0] == "--import") return run_import(words[1], "");
  if (words.size() == 4 && words[0] == "--import" && words[2] == "--format") return run_import(words[1], words[3]);
  if (words.size() >= 2 && words[0] == "--add-dictionary") {
    return run_add_dictionaries(std::vector<std::string>(words.begin() + 1, words.end()));
  }
  if (words.size() == 1 && words[0] == "--dictionaries") return run_list_dictionaries();
  if (words.size() == 2 && words[0] == "--remove-dictionary") return run_remove_dictionary(words[1]);
  if (words.size() == 1) {
    for (const auto& command : kCommands) {
      if (words[0] == command.word) return command.run();
    }
  }
  return refuse_words(words);
}

}  // namespace

int main(int argc, char** argv) {
  ruvo::platform::init_process();
  return run(ruvo::platform::command_line_words(argc, argv));
}
