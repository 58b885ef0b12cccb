// The discovery file rewritten over and over while one `ruvo mcp` session
// makes calls: whole files renamed into place, files rewritten in place in
// two halves (a reader may see half a file), removed, or holding garbage.
// Every call gets a result (the service's reply, or the error result of a
// service that is not there), ports and tokens are never mixed up, and the
// session ends normally.
#include "common/json.hpp"
#include "support/mcp_session.hpp"
#include "support/fake_service.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace ruvo::test {
namespace {

using common::JsonValue;

std::string discovery_text(std::uint16_t port, std::string_view token) {
  return common::to_compact(JsonValue{{"port", port}, {"token", std::string(token)}, {"version", "test"}});
}

// Truncates the file and writes it in two pieces, as a careless writer would.
void write_in_place(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const std::size_t half = text.size() / 2;
  (void)!::write(fd, text.data(), half);
  (void)!::write(fd, text.data() + half, text.size() - half);
  ::close(fd);
}

TEST(FaultDiscovery, RewritesDuringAnMcpSessionNeverBreakACall) {
  const std::string token_a = "token-of-service-a-0123456789";
  const std::string token_b = "token-of-service-b-9876543210";
  FakeService a;
  FakeService b;
  a.on("POST /v1/lookup", {Reply::json(200, R"({"ok":true,"hit":true,"term":"A"})")});
  b.on("POST /v1/lookup", {Reply::json(200, R"({"ok":true,"hit":true,"term":"B"})")});
  AppDataDir app_data;
  app_data.write_discovery(a.port(), token_a);
  ProgramDir programs;  // nothing to start: a missing service is an error result at once

  const std::string path = app_data.discovery_path();
  const std::string text_a = discovery_text(a.port(), token_a);
  const std::string text_b = discovery_text(b.port(), token_b);
  std::atomic<int> rewrites{0};
  // Stopped and joined however the test ends.
  std::jthread writer([&](std::stop_token stop) {
    for (int i = 0; !stop.stop_requested(); ++i) {
      // Mostly usable files, so that calls land on both services as well as
      // on the gaps between them.
      switch (i % 8) {
        case 0: app_data.write_discovery(text_a); break;
        case 1: write_in_place(path, text_b); break;
        case 2: write_in_place(path, text_a); break;
        case 3: std::remove(path.c_str()); break;
        case 4: app_data.write_discovery(text_b); break;
        case 5: write_in_place(path, "{\"port\":"); break;
        case 6: app_data.write_discovery(text_a); break;
        case 7: write_in_place(path, text_b); break;
      }
      ++rewrites;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
  });

  McpSession session(programs.ruvo(), app_data.env());
  constexpr int kCalls = 600;
  int answered = 0;
  int unavailable = 0;
  for (int id = 1; id <= kCalls; ++id) {
    const auto line = session.ask(call_line(id, "ruvo_lookup", JsonValue{{"text", "RAG"}}));
    ASSERT_TRUE(line.has_value()) << "no reply to call " << id << "; stderr: " << session.err_text();
    const auto parsed_reply = common::parse_json(*line);
    const JsonValue reply = parsed_reply ? *parsed_reply : JsonValue(nullptr);
    ASSERT_TRUE(reply.is_object() && reply.contains("result")) << *line;
    EXPECT_EQ(reply.at("id"), id);
    const JsonValue& result = reply.at("result");
    const std::string text = result_text(result);
    if (is_error(result)) {
      EXPECT_EQ(text, "Ruvo service is not available") << "call " << id;
      ++unavailable;
    } else {
      EXPECT_TRUE(text.find("\"term\": \"A\"") != std::string::npos || text.find("\"term\": \"B\"") != std::string::npos)
          << text;
      ++answered;
    }
  }
  writer.request_stop();
  writer.join();

  // Settled again: the very next call is answered.
  app_data.write_discovery(text_b);
  const JsonValue last = result_of(session.ask(call_line(kCalls + 1, "ruvo_lookup", JsonValue{{"text", "RAG"}})));
  EXPECT_FALSE(is_error(last)) << last;
  EXPECT_EQ(session.finish(), 0);
  EXPECT_EQ(session.err_text(), "");

  // Each request carried the token that was written beside its port.
  for (const auto& request : a.requests()) EXPECT_EQ(request.header("X-Ruvo-Token"), token_a);
  for (const auto& request : b.requests()) EXPECT_EQ(request.header("X-Ruvo-Token"), token_b);
  std::printf("[ figures  ] %d calls during %d rewrites: %d answered, %d service not available\n", kCalls,
              rewrites.load(), answered, unavailable);
}

}  // namespace
}  // namespace ruvo::test
