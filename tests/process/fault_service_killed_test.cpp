// One `ruvo mcp` session against the real local service (ruvo-gui.exe)
// that ruvo starts itself: the service is killed outright between two calls,
// and the next call starts a new one, which comes up under a new token and a
// new port and still holds what was saved before.
#include "common/json.hpp"
#include "support/mcp_session.hpp"
#include "support/local_service.hpp"
#include "support/process.hpp"

#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace ruvo::test {
namespace {

using common::JsonValue;

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(FaultServiceKilled, KilledBetweenTwoCallsAndStartedAgainByTheNext) {
  RuvoWithService setup;  // no discovery file: the first call starts the service
  std::string why;
  if (!setup.usable(&why)) GTEST_SKIP() << why;
  const AppDataDir& app_data = setup.appdata();
  McpSession session(setup.programs().ruvo(), app_data.env());

  const JsonValue saved = result_of(session.ask(call_line(
      1, "ruvo_save", JsonValue{{"term", "重启之前"}, {"fields", {{"定义", "杀掉之前存下的词"}}}})));
  ASSERT_FALSE(is_error(saved)) << saved;
  const std::string first_discovery = read_file(app_data.discovery_path());
  ASSERT_EQ(processes_running(setup.service_program()).size(), 1u);

  // Killed outright: its discovery file stays behind, naming a dead port.
  kill_all_running(setup.service_program());
  EXPECT_EQ(read_file(app_data.discovery_path()), first_discovery);

  const JsonValue found =
      result_of(session.ask(call_line(2, "ruvo_lookup", JsonValue{{"text", "重启之前"}})));
  EXPECT_FALSE(is_error(found)) << found;
  const auto reply = common::parse_json(result_text(found));
  ASSERT_TRUE(reply.ok()) << result_text(found);
  EXPECT_EQ(reply->value("hit", false), true) << result_text(found);
  EXPECT_EQ(reply->value("definition", ""), "杀掉之前存下的词") << result_text(found);

  const auto before = common::parse_json(first_discovery);
  const auto after = common::parse_json(read_file(app_data.discovery_path()));
  ASSERT_TRUE(before && after);
  EXPECT_NE(before->value("token", ""), after->value("token", ""));
  EXPECT_EQ(processes_running(setup.service_program()).size(), 1u);

  const JsonValue status = result_of(session.ask(call_line(3, "ruvo_status", JsonValue::object())));
  EXPECT_FALSE(is_error(status)) << status;
  EXPECT_EQ(session.finish(), 0);
  EXPECT_EQ(session.err_text(), "");
}

}  // namespace
}  // namespace ruvo::test
