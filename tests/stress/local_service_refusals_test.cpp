// Requests the local service must refuse, sent while wrk keeps it busy: each gets
// its JSON error, none changes the store, and the service serves on. Bytes
// after a head without a length are no body and are never held, or any
// local process could make the service hold as much memory as it cares to
// send.
#include "common/json.hpp"
#include "stress/store_check.hpp"
#include "support/http.hpp"
#include "support/local_service.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace ruvo::stress {
namespace {

using common::JsonValue;
using test::http_exchange;
using test::HttpReply;
using test::request_text;
using test::split_reply;

constexpr std::size_t kMaxBody = 1024 * 1024;

struct Refusal {
  const char* name;
  const char* method;
  const char* path;
  std::map<std::string, std::string> headers;
  std::string body;
  int status;
  const char* kind;
};

TEST(LocalServiceRefusals, RefusedRequestsGetJsonErrorsAndChangeNothing) {
  test::AppDataDir app_data;
  test::LocalService service(app_data.path());
  ASSERT_TRUE(service.start()) << service.problem();
  const std::string token = service.info().token;
  std::string wrong = token;
  wrong.back() = wrong.back() == '0' ? '1' : '0';
  const std::map<std::string, std::string> authorised = {{"X-Ruvo-Token", token},
                                                         {"Content-Type", "application/json"}};
  const std::string save = R"({"categoryId":"term","fields":{"定义":"不该存下"},"lang":"zh","term":"拒绝")";
  const std::string oversized = R"({"term":"大","fields":{"定义":")" + std::string(kMaxBody, 'x') + "\"}}";

  const Refusal cases[] = {
      {"no token", "POST", "/v1/save", {}, save + "}", 401, "auth"},
      {"wrong token", "POST", "/v1/save", {{"X-Ruvo-Token", wrong}}, save + "}", 401, "auth"},
      {"token and more", "POST", "/v1/save", {{"X-Ruvo-Token", token + "0"}}, save + "}", 401, "auth"},
      {"empty token", "POST", "/v1/save", {{"X-Ruvo-Token", ""}}, save + "}", 401, "auth"},
      {"health without token", "GET", "/v1/health", {}, "", 401, "auth"},
      {"unknown path without token", "POST", "/v1/drop", {}, "{}", 401, "auth"},
      {"oversized body", "POST", "/v1/save", authorised, oversized, 413, "too_large"},
      {"oversized, no token", "POST", "/v1/save", {}, oversized, 401, "auth"},
      {"malformed JSON", "POST", "/v1/save", authorised, save, 400, "bad_request"},
      {"not an object", "POST", "/v1/save", authorised, "[" + save + "}]", 400, "bad_request"},
      {"fields not an object", "POST", "/v1/save", authorised, R"({"term":"拒绝","fields":["定义"]})", 400,
       "bad_request"},
      {"blank term", "POST", "/v1/save", authorised, R"({"term":" \u3000","fields":{}})", 400, "bad_request"},
      {"unknown path", "POST", "/v1/delete", authorised, "{}", 404, "not_found"},
      {"wrong method", "GET", "/v1/save", authorised, "", 405, "method_not_allowed"},
      {"chunked body", "POST", "/v1/save",
       {{"X-Ruvo-Token", token}, {"Transfer-Encoding", "chunked"}}, "5\r\n{\"a\":\r\n0\r\n\r\n", 411,
       "length_required"},
  };

  // Load on lookups all along (lookups change nothing either).
  test::TempDir scratch;
  const std::string script = scratch.file("lookup.lua");
  std::ofstream(script) << "wrk.method = \"POST\"\nwrk.body = '{\"text\":\"RAG\"}'\n"
                        << "wrk.headers[\"X-Ruvo-Token\"] = \"" << token << "\"\n";
  std::jthread load([&] {
    test::run({.words = {"-t1", "-c4", "-d3s", "-s", script,
                         "http://127.0.0.1:" + std::to_string(service.info().port) + "/v1/lookup"},
               .program = "wrk"});
  });

  const StoreCheck before = inspect_store(service.store_path());
  ASSERT_EQ(before.error, "");
  for (const auto& c : cases) {
    const auto bytes = http_exchange(service.info().port, request_text(c.method, c.path, c.headers, c.body));
    ASSERT_TRUE(bytes.has_value()) << c.name;
    const HttpReply reply = split_reply(*bytes);
    EXPECT_EQ(reply.status, c.status) << c.name << ": " << bytes->substr(0, 300);
    const auto body = common::parse_json(reply.body);
    ASSERT_TRUE(body.ok() && body->is_object()) << c.name << ": " << reply.body;
    EXPECT_EQ(body->value("ok", true), false) << c.name;
    EXPECT_EQ(body->value("kind", ""), c.kind) << c.name << ": " << reply.body;
    EXPECT_EQ(bytes->find(token), std::string::npos) << c.name << ": the reply gives the token away";
  }
  load.join();

  const StoreCheck after = inspect_store(service.store_path());
  EXPECT_EQ(after.fields, before.fields);
  EXPECT_EQ(after.integrity, "ok");
  test::ProgramDir programs;
  const test::RunResult health = test::run({.words = {"health"}, .program = programs.ruvo(), .env = app_data.env()});
  EXPECT_EQ(health.exit_code, 0) << health.err;
  EXPECT_EQ(service.stop(), 0);
}

TEST(LocalServiceRefusals, WhatFollowsAHeadWithoutALengthIsNoBodyAndIsNotHeld) {
  test::AppDataDir app_data;
  test::LocalService service(app_data.path());
  ASSERT_TRUE(service.start()) << service.problem();
  const long peak_before = service.peak_memory_kib();

  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(service.info().port);
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  // No Content-Length and no Transfer-Encoding: the request has no body, and
  // what follows its head is no part of it. 64 MiB follow, more than the
  // service may ever hold.
  const std::string head = "POST /v1/lookup HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Ruvo-Token: " + service.info().token +
                           "\r\nContent-Type: application/json\r\nConnection: close\r\n\r\n{\"text\":\"RAG\"}";
  std::atomic<std::size_t> sent{0};
  std::thread sender([&] {
    if (::send(fd, head.data(), head.size(), MSG_NOSIGNAL) < 0) return;
    const std::string spaces(64 * 1024, ' ');
    while (sent < 64u * 1024 * 1024) {
      const ssize_t n = ::send(fd, spaces.data(), spaces.size(), MSG_NOSIGNAL);
      if (n <= 0) return;  // refused and closed: the rest is not wanted
      sent += static_cast<std::size_t>(n);
    }
  });
  std::string received;
  char chunk[16384];
  for (;;) {
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    received.append(chunk, static_cast<std::size_t>(n));
  }
  ::shutdown(fd, SHUT_RDWR);
  sender.join();
  ::close(fd);

  const HttpReply reply = split_reply(received);
  // Answered as a lookup with an empty body, which is no JSON.
  EXPECT_EQ(reply.status, 400) << received.substr(0, 300);
  const auto body = common::parse_json(reply.body);
  EXPECT_TRUE(body.ok() && body->is_object() && body->value("kind", "") == "bad_request") << reply.body;
  const long growth_kib = service.peak_memory_kib() - peak_before;
  EXPECT_LT(growth_kib, 32 * 1024) << "the service held " << growth_kib << " KiB more after " << sent
                                   << " body bytes without a length";
  EXPECT_EQ(service.stop(), 0);
}

}  // namespace
}  // namespace ruvo::stress
