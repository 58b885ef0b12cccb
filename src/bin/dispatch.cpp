#include "bin/dispatch.hpp"

#include "cli/explain.hpp"
#include "cli/health.hpp"
#include "cli/help.hpp"
#include "cli/lookup.hpp"
#include "cli/save.hpp"
#include "mcp/server.hpp"

#include <string>

namespace ruvo::bin {
namespace {

using cli::Outcome;
using cli::Words;
using Command = Outcome (*)(const Words&, client::Client&, const Streams&);

Outcome help(const Words& words, client::Client&, const Streams&) { return cli::print_help(words); }
Outcome version(const Words& words, client::Client&, const Streams&) { return cli::print_version(words); }
Outcome health(const Words& words, client::Client& c, const Streams&) { return cli::run_health(words, c); }
Outcome lookup(const Words& words, client::Client& c, const Streams& s) { return cli::run_lookup(words, c, s.hints); }
Outcome save(const Words& words, client::Client& c, const Streams&) { return cli::run_save(words, c); }
Outcome service(const Words& words, client::Client& c, const Streams&) { return cli::run_service(words, c); }
Outcome explain(const Words& words, client::Client& c, const Streams& s) {
  return cli::run_explain(words, c, s.input, {s.show_wait, {}}, s.hints);
}
Outcome mcp(const Words&, client::Client& c, const Streams& s) {
  return Outcome{mcp::run_mcp_server(c, s.input, s.write_line), {}, {}};
}

struct CommandEntry {
  std::string_view word;
  Command run;
};

// First words are matched whole and case-sensitively.
constexpr CommandEntry kCommands[] = {
    {"-h", help},         {"--help", help},       {"help", help},
    {"-V", version},      {"--version", version}, {"version", version},
    {"health", health},   {"lookup", lookup},     {"explain", explain},
    {"save", save},       {"service", service},   {"mcp", mcp},
};

}  // namespace

Outcome run_ruvo(const Words& words, client::Client& client, const Streams& streams) {
  if (words.empty()) return cli::print_help(words);
  const std::string& first = words.front();
  const Words rest(words.begin() + 1, words.end());
  for (const auto& command : kCommands) {
    if (command.word == first) return command.run(rest, client, streams);
  }
  return Outcome{2, std::string(cli::HELP_TEXT), "未知命令：" + first + "\n"};
}

}  // namespace ruvo::bin
