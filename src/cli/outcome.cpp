#include "cli/outcome.hpp"

namespace ruvo::cli {

Outcome fail_and_exit(std::string_view message) {
  std::string line(message);
  line += '\n';
  return Outcome{1, {}, std::move(line)};
}

Outcome print_pretty_json(const common::JsonValue& value) {
  std::string text = common::to_pretty(value);
  text += '\n';
  return Outcome{0, std::move(text), {}};
}

Outcome print_text(std::string text) { return Outcome{0, std::move(text), {}}; }

}  // namespace ruvo::cli
