// A discovery file left behind by a service that died without cleanup (kill
// -9, a crash, power lost), whose port another program holds now. Where the
// system can tell who holds a socket, ruvo never sends that program its token
// and starts the service instead; a file whose port its own service holds,
// named by "pid" or not, works as before.
//
// Under Wine the program under test is ruvo.exe, and the listeners are Linux
// processes, which Wine's table of sockets gives as process 0: it cannot
// tell, so nothing changes there, and the refusals are checked natively only.
#include "common/json.hpp"
#include "platform/platform.hpp"
#include "support/fake_service.hpp"
#include "support/http.hpp"
#include "support/mcp_session.hpp"
#include "support/process.hpp"
#include "support/start_record.hpp"
#include "support/stranger_listener.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

namespace ruvo::test {
namespace {

using common::JsonValue;

constexpr std::string_view kUnderWine =
    "under Wine a Linux listener's owning process is given as 0, so ruvo.exe cannot tell whose it is and "
    "uses the file as before";

const std::string kStaleToken = "token-of-a-service-that-died-0123456789";
// What the fake desktop that ruvo starts answers, and what the program on
// the old port answers.
const std::string kStartedHealth = "{\n  \"ok\": true,\n  \"terms\": 0,\n  \"version\": \"fake\"\n}\n";
const std::string kSquatterHealth = "{\n  \"ok\": true,\n  \"version\": \"test\"\n}\n";

// Whether ruvo, as it runs in this pass, can tell who holds a socket.
bool can_tell_owners() { return !running_under_launcher(); }

std::string discovery_text(std::uint16_t port, std::optional<long> pid) {
  JsonValue content{{"port", port}, {"token", kStaleToken}, {"version", "0.1.8"}};
  if (pid) content["pid"] = *pid;
  return common::to_compact(content);
}

// The id of a process that has ended and been reaped.
long ended_process() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

bool any_carries_token(const std::vector<Request>& requests) {
  for (const Request& request : requests) {
    if (request.raw.find(kStaleToken) != std::string::npos) return true;
  }
  return false;
}

// ruvo scene a fake desktop it can start, in its own application-data folder.
struct Scene {
  AppDataDir appdata;
  ProgramDir programs{{{"ruvo-gui.exe", fake_desktop()}}};
  StartRecord record;

  std::map<std::string, std::string> env(std::map<std::string, std::string> extra = {}) const {
    auto env = appdata.env();
    env.merge(record.env());
    env.merge(extra);
    return env;
  }
  RunResult ruvo(std::vector<std::string> words, std::map<std::string, std::string> extra = {}) const {
    return run({.words = std::move(words), .program = programs.ruvo(), .env = env(std::move(extra))});
  }
};

TEST(FaultStaleDiscovery, APortThatTheNamedProcessDoesNotHoldNeverGetsTheToken) {
  Child running("/bin/sleep", {"600"});  // a process of ours that holds no socket of the test
  ASSERT_TRUE(running.started());
  struct Case {
    const char* what;
    long pid;
  };
  const Case cases[] = {
      {"the named process has ended", ended_process()},
      {"the named process runs but does not hold the port", running.pid()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeService squatter;  // a process of ours, the test itself, listening on the old port
    squatter.on("POST /v1/lookup", {Reply::json(200, R"({"ok":true,"hit":true,"term":"squatted"})")});
    Scene scene;
    scene.appdata.write_discovery(discovery_text(squatter.port(), c.pid));

    const RunResult r = scene.ruvo({"health"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    if (!can_tell_owners()) continue;
    EXPECT_FALSE(any_carries_token(squatter.requests()));
    EXPECT_EQ(squatter.connections(), 0u);
    EXPECT_EQ(r.out, kStartedHealth);
    EXPECT_EQ(scene.record.read().size(), 1u);
  }
  if (!can_tell_owners()) GTEST_SKIP() << kUnderWine;
}

TEST(FaultStaleDiscovery, AnotherUsersListenerNeverGetsTheToken) {
  if (!StrangerListener::can_start()) GTEST_SKIP() << "only root can start a listener of another user";
  struct Case {
    const char* what;
    bool names_its_pid;
  };
  const Case cases[] = {
      {"a file without pid, as the vendor's application writes", false},
      {"a file naming the listener's own process", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    StrangerListener stranger;  // answers every request as a healthy service
    ASSERT_NE(stranger.port(), 0) << "the listener of user nobody did not start";
    Scene scene;
    scene.appdata.write_discovery(
        discovery_text(stranger.port(), c.names_its_pid ? std::optional<long>(stranger.pid()) : std::nullopt));

    const RunResult r = scene.ruvo({"health"});
    const std::string received = stranger.received();
    EXPECT_EQ(r.exit_code, 0) << r.err;
    if (!can_tell_owners()) continue;
    EXPECT_EQ(received.find(kStaleToken), std::string::npos) << received;
    EXPECT_EQ(received, "");
    EXPECT_EQ(r.out, kStartedHealth);
    EXPECT_EQ(scene.record.read().size(), 1u);
  }
  if (!can_tell_owners()) GTEST_SKIP() << kUnderWine;
}

TEST(FaultStaleDiscovery, AnAgentsToolCallNeverSendsTheTokenEither) {
  FakeService squatter;
  Scene scene;
  scene.appdata.write_discovery(discovery_text(squatter.port(), ended_process()));
  McpSession session(scene.programs.ruvo(), scene.env());
  const JsonValue result = result_of(session.ask(call_line(1, "ruvo_status", JsonValue::object())));
  EXPECT_FALSE(is_error(result)) << result;
  EXPECT_EQ(session.finish(), 0);
  EXPECT_EQ(session.err_text(), "");
  if (!can_tell_owners()) GTEST_SKIP() << kUnderWine;
  EXPECT_NE(result_text(result).find("\"version\": \"fake\""), std::string::npos) << result;
  EXPECT_FALSE(any_carries_token(squatter.requests()));
  EXPECT_EQ(squatter.connections(), 0u);
  EXPECT_EQ(scene.record.read().size(), 1u);
}

TEST(FaultStaleDiscovery, AFileWhoseServiceHoldsItsPortWorksAsBefore) {
  struct Case {
    const char* what;
    std::optional<long> pid;
  };
  const Case cases[] = {
      {"named by its pid", static_cast<long>(::getpid())},  // the service runs in the test process
      {"without pid, as the vendor's application writes", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeService service;
    service.on("POST /v1/lookup", {Reply::json(200, R"({"ok":true,"hit":true,"term":"RAG","definition":"d"})")});
    Scene scene;
    scene.appdata.write_discovery(discovery_text(service.port(), c.pid));

    RunResult r = scene.ruvo({"health"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, kSquatterHealth);
    r = scene.ruvo({"lookup", "RAG"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "RAG\n定义：d\n");
    EXPECT_TRUE(scene.record.read().empty());
    // The request bytes are as they always were.
    const auto requests = service.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[3].raw, request_bytes("POST", "/v1/lookup", R"({"text":"RAG"})", kStaleToken));
    for (const auto& request : requests) EXPECT_EQ(request.header("X-Ruvo-Token"), kStaleToken);
  }
}

TEST(FaultStaleDiscovery, AStartedServiceThatNamesItselfIsUsed) {
  Scene scene;  // no discovery file: the launcher starts the service at once
  const RunResult r = scene.ruvo({"health"}, {{"FAKE_DESKTOP_PID", "self"}});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, kStartedHealth);
  const auto starts = scene.record.read();
  ASSERT_EQ(starts.size(), 1u);
  const std::string text = platform::read_file(scene.appdata.discovery_path()).value_or("");
  EXPECT_NE(text.find("\"pid\":" + std::to_string(starts[0].pid)), std::string::npos) << text;
}

}  // namespace
}  // namespace ruvo::test
