#include "support/start_record.hpp"

#include <signal.h>

#include <cstdlib>
#include <fstream>

namespace ruvo::test {

std::string fake_desktop() {
  const char* path = std::getenv("RUVO_TEST_FAKE_DESKTOP");
  return path != nullptr ? path : "";
}

StartRecord::~StartRecord() {
  for (const auto& s : read()) {
    if (s.pid > 0) ::kill(s.pid, SIGKILL);
  }
}

std::vector<Started> StartRecord::read() const {
  std::vector<Started> starts;
  std::ifstream in(path());
  std::string line;
  while (std::getline(in, line)) {
    const auto parsed = common::parse_json(line);
    if (!parsed || !parsed->is_object()) continue;
    Started s;
    for (const auto& a : parsed->value("argv", common::JsonValue::array())) {
      if (a.is_string()) s.argv.push_back(a.get<std::string>());
    }
    s.webview2 = parsed->value("webview2", common::JsonValue());
    const auto pid = parsed->value("pid", common::JsonValue());
    s.pid = pid.is_number_integer() ? pid.get<int>() : 0;
    starts.push_back(s);
  }
  return starts;
}

}  // namespace ruvo::test
