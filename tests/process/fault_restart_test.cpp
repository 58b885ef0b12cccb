// The service going away or coming back under another token while ruvo is
// using it: between the health probe and the request, and between two tool
// calls of one `ruvo mcp` session. One session is driven line by line, so the
// test changes the world exactly between two calls.
#include "common/json.hpp"
#include "support/mcp_session.hpp"
#include "support/fake_service.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace ruvo::test {
namespace {

using common::JsonValue;

// A service that answers exactly one health probe and then is gone: it stops
// listening before its reply leaves, so the request that follows the probe
// finds nobody at the port.
class OneProbeService {
 public:
  OneProbeService() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    listener_ = fd;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
      ADD_FAILURE() << "cannot listen";
      return;
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve_one(); });
  }
  ~OneProbeService() {
    // Wake an accept that never got its client.
    if (const int fd = listener_.load(); fd >= 0) ::shutdown(fd, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    if (const int fd = listener_.exchange(-1); fd >= 0) ::close(fd);
  }
  OneProbeService(const OneProbeService&) = delete;
  OneProbeService& operator=(const OneProbeService&) = delete;

  std::uint16_t port() const { return port_; }

 private:
  void serve_one() {
    const int conn = ::accept4(listener_.load(), nullptr, nullptr, SOCK_CLOEXEC);
    if (conn < 0) return;
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos) {
      const ssize_t n = ::recv(conn, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      request.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(listener_.exchange(-1));
    const std::string reply =
        "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 11\r\nConnection: close\r\n\r\n"
        "{\"ok\":true}";
    (void)::send(conn, reply.data(), reply.size(), MSG_NOSIGNAL);
    ::close(conn);
  }

  std::atomic<int> listener_{-1};
  std::uint16_t port_ = 0;
  std::thread thread_;
};

struct CommandCase {
  const char* name;
  std::vector<std::string> words;
};

const CommandCase kCommands[] = {
    {"lookup", {"lookup", "RAG"}},
    {"explain", {"explain", "RAG"}},
    {"save", {"save", "--term", "RAG", "--fields", R"({"定义":"检索增强生成"})"}},
};

TEST(FaultRestart, ServiceGoneBetweenProbeAndRequest) {
  for (const auto& c : kCommands) {
    OneProbeService service;
    AppDataDir app_data;
    app_data.write_discovery(service.port());
    ProgramDir programs;  // nothing to start
    const RunResult r = run({.words = c.words, .program = programs.ruvo(), .env = app_data.env()});
    EXPECT_EQ(r.exit_code, 1) << c.name;
    EXPECT_FALSE(r.killed_by_signal) << c.name;
    EXPECT_EQ(r.out, "") << c.name;
    EXPECT_EQ(r.err.rfind("连不上 Ruvo 服务：", 0), 0u) << c.name << ": " << r.err;
    EXPECT_NE(r.err.find(" (os error "), std::string::npos) << c.name << ": " << r.err;
  }
}

TEST(FaultRestart, ServiceDiesWhileAnsweringTheRequest) {
  // It read the request, then its connection is torn down before a reply.
  Reply torn = Reply::raw("");
  torn.reset = true;
  const std::pair<const char*, std::string> routes[] = {
      {"lookup", "POST /v1/lookup"}, {"explain", "POST /v1/explain"}, {"save", "POST /v1/save"}};
  for (std::size_t i = 0; i < std::size(kCommands); ++i) {
    FakeService service;
    service.on(routes[i].second, {torn});
    AppDataDir app_data;
    app_data.write_discovery(service.port());
    ProgramDir programs;
    const RunResult r = run({.words = kCommands[i].words, .program = programs.ruvo(), .env = app_data.env()});
    const char* name = kCommands[i].name;
    EXPECT_EQ(r.exit_code, 1) << name;
    EXPECT_FALSE(r.killed_by_signal) << name;
    EXPECT_EQ(r.out, "") << name;
    // The reset may come before or after the end of the stream is seen.
    EXPECT_TRUE(r.err.rfind("read: ", 0) == 0 || r.err == "响应没有头体分隔\n") << name << ": " << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << name << ": one line";
  }
}

TEST(FaultRestart, OneMcpSessionOutlivesRestartsAndTokenChanges) {
  ProgramDir programs;  // no desktop program: a dead service stays dead
  AppDataDir app_data;
  FakeService first;
  // The probe reached the old instance; the request reached one that was
  // restarted on the same port with a new token.
  first.on("POST /v1/lookup", {Reply::json(401, R"({"ok":false,"message":"wrong token"})")});
  app_data.write_discovery(first.port(), kTestToken);

  McpSession session(programs.ruvo(), app_data.env());
  const JsonValue lookup = {{"text", "RAG"}};

  const JsonValue rejected = result_of(session.ask(call_line(1, "ruvo_lookup", lookup)));
  EXPECT_TRUE(is_error(rejected)) << rejected;
  EXPECT_EQ(result_text(rejected),
            "{\n  \"kind\": \"auth\",\n  \"message\": \"token 不对（Ruvo 可能刚重启），重试一次\",\n  \"ok\": false\n}");

  // The restarted instance announces itself; the next call must read it.
  const std::string new_token = "restarted-token-fedcba9876543210";
  FakeService second;
  second.on("POST /v1/lookup", {Reply::json(200, R"({"ok":true,"hit":true,"term":"RAG"})")});
  app_data.write_discovery(second.port(), new_token);
  const std::size_t first_requests = first.requests().size();
  const JsonValue answered = result_of(session.ask(call_line(2, "ruvo_lookup", lookup)));
  EXPECT_FALSE(is_error(answered)) << answered;
  EXPECT_EQ(first.requests().size(), first_requests) << "the old instance was asked again";
  const auto requests = second.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].path, "/v1/health");
  EXPECT_EQ(requests[1].path, "/v1/lookup");
  for (const auto& request : requests) EXPECT_EQ(request.header("X-Ruvo-Token"), new_token);

  // The service dies, leaving its discovery file behind, and nothing can
  // start another: an error result, and the session goes on.
  {
    FakeService gone;  // destroyed at once: its port answers nobody
    app_data.write_discovery(gone.port(), new_token);
  }
  const JsonValue down = result_of(session.ask(call_line(3, "ruvo_lookup", lookup)));
  EXPECT_TRUE(is_error(down)) << down;
  EXPECT_EQ(result_text(down), "Ruvo service is not available");

  // Back under yet another token.
  FakeService third;
  ASSERT_NE(third.port(), 0);
  app_data.write_discovery(third.port(), "third-token-0123456789abcdef");
  const JsonValue status = result_of(session.ask(call_line(4, "ruvo_status", JsonValue::object())));
  EXPECT_FALSE(is_error(status)) << status;

  EXPECT_EQ(session.finish(), 0);
  EXPECT_EQ(session.err_text(), "");
  EXPECT_EQ(session.unread_out(), "");
}

}  // namespace
}  // namespace ruvo::test
