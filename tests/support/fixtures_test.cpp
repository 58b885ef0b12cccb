// Self-tests of the shared end-to-end fixtures: the process runner, the
// scripted fake service and the fake desktop program.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

#include "support/fake_service.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

namespace ruvo::test {
namespace {

RunResult sh(const std::string& script, RunSpec settings = {}) {
  settings.program = "/bin/sh";
  settings.words = {"-c", script};
  return run(settings);
}

// A plain blocking client socket connected to 127.0.0.1:port, or -1.
int connect_to(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

void send_text(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
    ASSERT_GT(n, 0) << std::strerror(errno);
    text.remove_prefix(static_cast<std::size_t>(n));
  }
}

// Reads until the end of the stream (or `limit` bytes); *error gets errno of a failed read.
std::string read_until_end(int fd, int* error = nullptr, std::size_t limit = std::string::npos) {
  std::string data;
  char buffer[4096];
  while (data.size() < limit) {
    const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, limit - data.size()), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && error != nullptr) *error = errno;
    if (n <= 0) break;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  return data;
}

// One request on its own connection; the whole reply.
std::string exchange(uint16_t port, std::string_view request) {
  const int fd = connect_to(port);
  EXPECT_GE(fd, 0);
  if (fd < 0) return {};
  send_text(fd, request);
  std::string reply = read_until_end(fd);
  ::close(fd);
  return reply;
}

std::string body_of(const std::string& reply) { return reply.substr(reply.find("\r\n\r\n") + 4); }

TEST(Run, ReportsExitCodeAndBothStreams) {
  struct Case { std::string script; int exit_code; std::string out, err; };
  const Case cases[] = {
      {"printf out; printf err >&2; exit 3", 3, "out", "err"},
      {"exit 0", 0, "", ""},
      {"printf 'a\\nb\\n'", 0, "a\nb\n", ""},
  };
  for (const auto& c : cases) {
    const RunResult r = sh(c.script);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.script;
    EXPECT_EQ(r.out, c.out) << c.script;
    EXPECT_EQ(r.err, c.err) << c.script;
    EXPECT_FALSE(r.killed_by_signal || r.timed_out) << c.script;
  }
}

TEST(Run, FeedsLargeInputWhileCollectingOutput) {
  std::string input(5 << 20, '\0');
  for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<char>('a' + i % 26);
  RunSpec settings;
  settings.stdin_bytes = input;
  const RunResult echoed = sh("cat; cat >&2 </dev/null; printf done >&2", settings);
  EXPECT_EQ(echoed.exit_code, 0);
  EXPECT_TRUE(echoed.out == input) << "got " << echoed.out.size() << " bytes";
  EXPECT_EQ(echoed.err, "done");

  // No input given: standard input is /dev/null.
  const RunResult empty = sh("wc -c");
  EXPECT_EQ(empty.out, "0\n");
  EXPECT_EQ(empty.exit_code, 0);
}

TEST(Run, SetsAndRemovesEnvironmentVariables) {
  ::setenv("RUVO_FIXTURE_KEPT", "kept", 1);
  ::setenv("RUVO_FIXTURE_GONE", "gone", 1);
  ::setenv("RUVO_FIXTURE_OVERRIDDEN", "old", 1);
  RunSpec settings;
  settings.env = {{"RUVO_FIXTURE_SET", "set"}, {"RUVO_FIXTURE_OVERRIDDEN", "new"}};
  settings.unset_env = {"RUVO_FIXTURE_GONE"};
  const RunResult r = sh(
      R"(printf '%s|%s|%s|%s' "${RUVO_FIXTURE_KEPT-unset}" "${RUVO_FIXTURE_SET-unset}" )"
      R"("${RUVO_FIXTURE_GONE-unset}" "${RUVO_FIXTURE_OVERRIDDEN-unset}")",
      settings);
  for (const char* name : {"RUVO_FIXTURE_KEPT", "RUVO_FIXTURE_GONE", "RUVO_FIXTURE_OVERRIDDEN"}) ::unsetenv(name);
  EXPECT_EQ(r.out, "kept|set|unset|new");
}

TEST(Run, ClosedOutputsFailWrites) {
  RunSpec closed_out;
  closed_out.close_stdout = true;
  // With SIGPIPE ignored the write fails with EPIPE and echo reports it.
  const RunResult ignored = sh("trap '' PIPE; echo x; echo \"status $?\" >&2", closed_out);
  EXPECT_NE(ignored.err.find("status 1"), std::string::npos) << ignored.err;
  EXPECT_EQ(ignored.out, "");
  // The child starts with SIGPIPE at its default, though the test ignores it.
  const RunResult killed = sh("echo x; echo unreachable >&2", closed_out);
  EXPECT_TRUE(killed.killed_by_signal);
  EXPECT_EQ(killed.signal, SIGPIPE);
  EXPECT_EQ(killed.err, "");

  RunSpec closed_err;
  closed_err.close_stderr = true;
  const RunResult err = sh("trap '' PIPE; echo x >&2; echo \"status $?\"", closed_err);
  EXPECT_EQ(err.out, "status 1\n");
}

TEST(Run, KillsTheProcessGroupAfterTheTimeout) {
  RunSpec settings;
  settings.timeout_seconds = 1;
  // The background sleep holds the output pipes too; it must die with the group.
  const RunResult r = sh("echo started; sleep 300 & sleep 300", settings);
  EXPECT_TRUE(r.timed_out);
  EXPECT_EQ(r.exit_code, -1);
  EXPECT_TRUE(r.killed_by_signal);
  EXPECT_EQ(r.signal, SIGKILL);
  EXPECT_EQ(r.out, "started\n");
  EXPECT_NE(r.err.find("[run] timed out after 1 s"), std::string::npos) << r.err;
}

TEST(Run, ReportsAProgramThatCannotStart) {
  RunSpec settings;
  settings.program = "/nonexistent/ruvo-fixture-program";
  const RunResult r = run(settings);
  EXPECT_EQ(r.exit_code, -1);
  EXPECT_NE(r.err.find("[run] cannot start /nonexistent/ruvo-fixture-program"), std::string::npos) << r.err;
}

TEST(FakeServiceTest, RecordsTheRequestAndAnswersScriptedBytes) {
  FakeService service;
  const std::string scripted = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n{\"a\":\r\n0\r\n\r\n";
  service.on("POST /v1/lookup", {Reply::raw(scripted)});
  const std::string request =
      "POST /v1/lookup HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Ruvo-Token: abc\r\nContent-Length: 12\r\n\r\n{\"text\":\"x\"}";
  EXPECT_EQ(exchange(service.port(), request), scripted);

  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].raw, request);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, "/v1/lookup");
  EXPECT_EQ(requests[0].body, "{\"text\":\"x\"}");
  EXPECT_EQ(requests[0].header("x-ruvo-token"), "abc");
  EXPECT_EQ(service.connections(), 1u);
}

TEST(FakeServiceTest, UsesRepliesInOrderThenRepeatsTheLast) {
  FakeService service;
  service.on("POST /v1/save", {Reply::json(500, R"({"n":1})"), Reply::json(200, R"({"n":2})")});
  const std::string save = "POST /v1/save HTTP/1.1\r\nContent-Length: 0\r\n\r\n";
  EXPECT_EQ(body_of(exchange(service.port(), save)), R"({"n":1})");
  EXPECT_EQ(body_of(exchange(service.port(), save)), R"({"n":2})");
  EXPECT_EQ(body_of(exchange(service.port(), save)), R"({"n":2})");

  const std::string health = exchange(service.port(), "GET /v1/health HTTP/1.1\r\n\r\n");
  EXPECT_EQ(health.rfind("HTTP/1.1 200 ", 0), 0u) << health;
  EXPECT_EQ(body_of(health), R"({"ok":true,"version":"test"})");
  const std::string unknown = exchange(service.port(), "GET /v2/nothing HTTP/1.1\r\n\r\n");
  EXPECT_EQ(unknown.rfind("HTTP/1.1 404 ", 0), 0u) << unknown;
  EXPECT_EQ(body_of(unknown), R"({"ok":false,"message":"not found"})");

  // A large reply arrives whole.
  service.on("GET /big", {Reply::raw(std::string((1 << 20) + 1, 'x'))});
  EXPECT_EQ(exchange(service.port(), "GET /big HTTP/1.1\r\n\r\n").size(), (1u << 20) + 1);
  EXPECT_EQ(service.requests().size(), 6u);
}

TEST(FakeServiceTest, KeptOpenConnectionBlocksNothingAndEndsWithTheService) {
  auto service = std::make_unique<FakeService>();
  service->on("GET /hold", {Reply{"partial", /*keep_open=*/true}});
  const int held = connect_to(service->port());
  ASSERT_GE(held, 0);
  send_text(held, "GET /hold HTTP/1.1\r\n\r\n");
  EXPECT_EQ(read_until_end(held, nullptr, 7), "partial");

  EXPECT_EQ(body_of(exchange(service->port(), "GET /v1/health HTTP/1.1\r\n\r\n")), R"({"ok":true,"version":"test"})");
  pollfd item{held, POLLIN, 0};
  EXPECT_EQ(::poll(&item, 1, 0), 0) << "the held connection was closed";

  service.reset();  // must not wait for the client
  int error = 0;
  EXPECT_EQ(read_until_end(held, &error), "");
  EXPECT_EQ(error, 0);
  ::close(held);
}

TEST(FakeServiceTest, ResetReplyAbortsTheConnection) {
  FakeService service;
  service.on("GET /reset", {Reply{"", false, /*reset=*/true}});
  const int fd = connect_to(service.port());
  ASSERT_GE(fd, 0);
  send_text(fd, "GET /reset HTTP/1.1\r\n\r\n");
  int error = 0;
  read_until_end(fd, &error);
  EXPECT_EQ(error, ECONNRESET);
  ::close(fd);
}

std::string fake_desktop_program() {
  const char* path = std::getenv("RUVO_TEST_FAKE_DESKTOP");
  return path == nullptr ? std::string() : std::string(path);
}

nlohmann::json only_record(const std::string& path) {
  std::ifstream file(path);
  std::string line, extra;
  std::getline(file, line);
  EXPECT_FALSE(std::getline(file, extra)) << "more than one record line";
  return nlohmann::json::parse(line, nullptr, false);
}

TEST(FakeDesktop, ExitModeRecordsHowItWasStarted) {
  if (fake_desktop_program().empty()) GTEST_SKIP() << "RUVO_TEST_FAKE_DESKTOP is not set";
  AppDataDir appdata;
  RunSpec settings;
  settings.program = fake_desktop_program();
  settings.words = {"--service"};
  settings.env = appdata.env();
  settings.env["FAKE_DESKTOP_MODE"] = "exit";
  settings.env["FAKE_DESKTOP_RECORD"] = appdata.file("record.jsonl");
  settings.unset_env = {"WEBVIEW2_USER_DATA_FOLDER"};
  const RunResult r = run(settings);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out + r.err, "");
  const auto record = only_record(appdata.file("record.jsonl"));
  EXPECT_EQ(record["argv"], nlohmann::json::array({settings.program, "--service"}));
  EXPECT_TRUE(record["webview2"].is_null());
  EXPECT_TRUE(record["pid"].is_number_integer());
  EXPECT_FALSE(std::ifstream(appdata.discovery_path()).good()) << "exit mode wrote a discovery file";
}

TEST(FakeDesktop, ServesHealthAndWritesTheDiscoveryFile) {
  if (fake_desktop_program().empty()) GTEST_SKIP() << "RUVO_TEST_FAKE_DESKTOP is not set";
  AppDataDir appdata;
  RunSpec settings;
  settings.env = appdata.env();
  settings.env["FAKE_DESKTOP_RECORD"] = appdata.file("record.jsonl");
  settings.env["FAKE_DESKTOP_LIFETIME_MS"] = "120000";
  settings.env["WEBVIEW2_USER_DATA_FOLDER"] = "/wv2";
  settings.env["FAKE"] = fake_desktop_program();
  // Started in the background the way ruvo's launcher leaves it: nobody waits for it.
  EXPECT_EQ(sh(R"("$FAKE" --service &)", settings).exit_code, 0);
  // Wait generously for the file: the pass must not depend on the machine's speed.
  for (int i = 0; i < 1200 && !std::ifstream(appdata.discovery_path()).good(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const auto record = only_record(appdata.file("record.jsonl"));
  ASSERT_TRUE(record["pid"].is_number_integer()) << record.dump();
  const pid_t pid = record["pid"].get<pid_t>();
  EXPECT_EQ(record["webview2"], "/wv2");
  EXPECT_EQ(record["argv"][1], "--service");

  std::ifstream file(appdata.discovery_path());
  std::stringstream text;
  text << file.rdbuf();
  const auto discovery = nlohmann::json::parse(text.str(), nullptr, false);
  EXPECT_EQ(discovery["token"], "fake-desktop-token-0123456789");
  EXPECT_EQ(discovery["version"], "fake");
  if (discovery["port"].is_number_unsigned()) {
    const auto port = discovery["port"].get<uint16_t>();
    const std::string health = exchange(port, "GET /v1/health HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(body_of(health), R"({"ok":true,"version":"fake","terms":0})");
    const std::string other = exchange(port, "POST /v1/lookup HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(other.rfind("HTTP/1.1 404 ", 0), 0u) << other;
  } else {
    ADD_FAILURE() << "discovery file: " << text.str();
  }
  ::kill(pid, SIGKILL);
}

}  // namespace
}  // namespace ruvo::test
