// service_request against a scripted service: what goes over the wire and
// every way an exchange can fail.
#include "client/http.hpp"
#include "protocol/routes.hpp"
#include "support/fake_service.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

using namespace ruvo::test;
using ruvo::client::JsonValue;
using ruvo::client::ServiceInfo;
using ruvo::client::service_request;
using ruvo::protocol::Route;

namespace {

constexpr std::string_view kTestTokenForClient = "client-token-0123456789";

ServiceInfo info_for(const FakeService& service) {
  return ServiceInfo{service.port(), std::string(kTestTokenForClient), ""};
}

std::string reply_of_size(std::size_t total) {
  const std::string head = "HTTP/1.1 200 OK\r\n\r\n\"";
  std::string bytes = head + std::string(total - head.size() - 1, 'x') + "\"";
  return bytes;
}

}  // namespace

TEST(ServiceClient, SendsExactBytesAndParsesTheBody) {
  FakeService service;
  service.on("POST /v1/lookup", {Reply::json(200, R"({"hit":true,"ok":true,"term":"RAG"})")});
  JsonValue body = {{"text", "RAG"}};
  const auto reply = service_request(info_for(service), Route{"POST", "/v1/lookup", 10}, &body);
  ASSERT_TRUE(reply.ok()) << reply.error().text();
  EXPECT_EQ((*reply)["term"], "RAG");
  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].raw,
            "POST /v1/lookup HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Ruvo-Token: client-token-0123456789\r\n"
            "Content-Type: application/json\r\nContent-Length: 14\r\nConnection: close\r\n\r\n"
            "{\"text\":\"RAG\"}");
}

TEST(ServiceClient, ReplyFaults) {
  struct Case {
    const char* name;
    Reply reply;
    std::string error_prefix;
  };
  const Case cases[] = {
      {"closed after part of the head", Reply::raw("HTTP/1.1 200 OK\r\nContent-"), "响应没有头体分隔"},
      {"nothing at all", Reply::raw(""), "响应没有头体分隔"},
      {"single-word head", Reply::raw("HTTP/1.1\r\n\r\n{}"), "响应状态行不合法"},
      {"status word 200x", Reply::raw("HTTP/1.1 200x OK\r\n\r\n{}"), "响应状态行不合法"},
      {"empty body", Reply::raw("HTTP/1.1 200 OK\r\n\r\n"), "响应不是 JSON：parse error at line 1, column 1: "},
      {"chunked body", Reply::raw("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n"),
       "响应不是 JSON：parse error at line "},
      {"401 with text body", Reply::raw("HTTP/1.1 401 Unauthorized\r\n\r\nno"), "响应不是 JSON：parse error"},
      {"one byte over the cap", Reply::raw(reply_of_size(ruvo::client::kMaxReplyBytes + 1)), "响应过大"},
  };
  for (const auto& c : cases) {
    FakeService service;
    service.on("GET /v1/health", {c.reply});
    const auto reply = service_request(info_for(service), Route{"GET", "/v1/health", 10}, nullptr);
    EXPECT_FALSE(reply.ok()) << c.name;
    EXPECT_EQ(reply.error().text().rfind(c.error_prefix, 0), 0u) << c.name << ": " << reply.error().text();
  }
}

TEST(ServiceClient, ReplyAtTheCapAndStatusesThatPassThrough) {
  FakeService service;
  service.on("GET /v1/health", {Reply::raw(reply_of_size(ruvo::client::kMaxReplyBytes))});
  const auto at_cap = service_request(info_for(service), Route{"GET", "/v1/health", 10}, nullptr);
  ASSERT_TRUE(at_cap.ok()) << at_cap.error().text();
  EXPECT_TRUE(at_cap->is_string());

  service.on("GET /v1/health", {Reply::json(401, R"({"ok":true})"), Reply::json(500, R"({"ok":false,"message":"boom"})")});
  const auto unauthorised = service_request(info_for(service), Route{"GET", "/v1/health", 10}, nullptr);
  ASSERT_TRUE(unauthorised.ok());
  EXPECT_EQ(ruvo::common::to_compact(*unauthorised),
            R"({"kind":"auth","message":"token 不对（Ruvo 可能刚重启），重试一次","ok":false})");
  const auto server_error = service_request(info_for(service), Route{"GET", "/v1/health", 10}, nullptr);
  ASSERT_TRUE(server_error.ok());
  EXPECT_EQ((*server_error)["message"], "boom");
}

TEST(ServiceClient, ReadTimeOutAfterACompleteReplyOnAnOpenConnection) {
  FakeService service;
  Reply stalled = Reply::json(200, R"({"ok":true})");
  stalled.keep_open = true;
  service.on("GET /v1/health", {stalled});
  const auto reply = service_request(info_for(service), Route{"GET", "/v1/health", 1}, nullptr);
  EXPECT_FALSE(reply.ok());
  EXPECT_EQ(reply.error().text().rfind("read: ", 0), 0u) << reply.error().text();
  EXPECT_NE(reply.error().text().find(" (os error "), std::string::npos) << reply.error().text();
}

TEST(ServiceClient, TheReadTimeOutBoundsTheWholeReply) {
  // Each byte arrives well within the per-read time-out, but the reply would
  // take a minute: the exchange gives up when the route's time-out has passed
  // since the request, with the same text as a read that times out.
  FakeService service;
  Reply dripping = Reply::json(200, R"({"ok":true,"padding":")" + std::string(600, 'x') + "\"}");
  dripping.drip_ms = 100;
  service.on("GET /v1/health", {dripping});
  const auto reply = service_request(info_for(service), Route{"GET", "/v1/health", 1}, nullptr);
  EXPECT_EQ(reply.error().text(), "read: Resource temporarily unavailable (os error 11)");

  // A reply that comes slowly but whole within the time-out is read as ever.
  Reply slow = Reply::json(200, R"({"ok":true})");
  slow.drip_ms = 5;
  service.on("GET /v1/health", {slow});
  const auto whole = service_request(info_for(service), Route{"GET", "/v1/health", 30}, nullptr);
  ASSERT_TRUE(whole.ok()) << whole.error().text();
  EXPECT_EQ((*whole)["ok"], true);
}

TEST(ServiceClient, ResetByThePeerIsAReadError) {
  FakeService service;
  Reply reset = Reply::raw("HTTP/1.1 200 OK\r\n");
  reset.reset = true;
  service.on("GET /v1/health", {reset});
  const auto reply = service_request(info_for(service), Route{"GET", "/v1/health", 10}, nullptr);
  EXPECT_FALSE(reply.ok());
  // The reset may arrive before or after the partial head has been read.
  EXPECT_TRUE(reply.error().text().rfind("read: ", 0) == 0 || reply.error().text() == "响应没有头体分隔")
      << reply.error().text();
}

TEST(ServiceClient, ConnectionRefused) {
  // A port that was just free: nothing listens there.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  const ServiceInfo info{ntohs(addr.sin_port), "0123456789abcdef", ""};
  const auto reply = service_request(info, Route{"GET", "/v1/health", 3}, nullptr);
  EXPECT_EQ(reply.error().text(), "连不上 Ruvo 服务：Connection refused (os error 111)");
}

TEST(ServiceClient, WriteFailsWhenThePeerGoesAwayWithoutReading) {
  // A listener that resets as soon as the request starts; a large body cannot be written.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  socklen_t len = sizeof addr;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  std::thread closer([listener] {
    const int conn = ::accept(listener, nullptr, nullptr);
    // Wait for the first bytes, so the reset hits the write and not the connect.
    char first = 0;
    (void)::recv(conn, &first, 1, 0);
    linger lg{1, 0};
    ::setsockopt(conn, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    ::close(conn);
  });
  const JsonValue body = {{"text", std::string(64 << 20, 'a')}};
  const ServiceInfo info{ntohs(addr.sin_port), "0123456789abcdef", ""};
  const auto reply = service_request(info, Route{"POST", "/v1/lookup", 3}, &body);
  closer.join();
  ::close(listener);
  EXPECT_EQ(reply.error().text().rfind("write: ", 0), 0u) << reply.error().text();
  EXPECT_NE(reply.error().text().find(" (os error "), std::string::npos) << reply.error().text();
}
