#include "client/http.hpp"

#include <gtest/gtest.h>

#include <string>

using namespace ruvo::client;

namespace {

ServiceInfo info() { return ServiceInfo{4321, "0123456789abcdef", ""}; }

std::string reply(const std::string& status_line, const std::string& body) {
  return status_line + "\r\nContent-Type: application/json\r\n\r\n" + body;
}

}  // namespace

TEST(ServiceRequestBytes, GetCarriesEmptyBody) {
  EXPECT_EQ(build_request(info(), "GET", "/v1/health", nullptr),
            "GET /v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Ruvo-Token: 0123456789abcdef\r\n"
            "Content-Type: application/json\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
}

TEST(ServiceRequestBytes, PostCarriesCompactSortedBodyAndByteLength) {
  JsonValue body = JsonValue::object();
  body["text"] = "向量";
  body["allowCloud"] = true;
  EXPECT_EQ(build_request(info(), "POST", "/v1/explain", &body),
            "POST /v1/explain HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Ruvo-Token: 0123456789abcdef\r\n"
            "Content-Type: application/json\r\nContent-Length: 35\r\nConnection: close\r\n\r\n"
            "{\"allowCloud\":true,\"text\":\"向量\"}");
}

TEST(ServiceReplyParsing, StatusWordRules) {
  struct Case {
    std::string head;
    bool ok;
  };
  const Case cases[] = {
      {"HTTP/1.1 200 OK", true},     {"HTTP/1.1 +200 OK", true},  {"HTTP/1.1 0", true},
      {"HTTP/1.1 65535 X", true},    {"  HTTP/1.1\t\t200", true}, {"HTTP/1.1\xE3\x80\x80" "200", true},
      {"HTTP/1.1 200x OK", false},   {"HTTP/1.1 -1 X", false},    {"HTTP/1.1 65536 X", false},
      {"HTTP/1.1", false},           {"", false},                 {"HTTP/1.1 ++200", false},
      {"HTTP/1.1 + 200", false},     {"HTTP/1.1 ２００", false},
  };
  for (const auto& c : cases) {
    const ServiceReply r = parse_reply(c.head + "\r\n\r\n{\"ok\":true}");
    EXPECT_EQ(r.ok(), c.ok) << c.head << " -> " << r.error().text();
    if (!c.ok) {
      EXPECT_EQ(r.error().text(), "响应状态行不合法") << c.head;
    }
  }
}

TEST(ServiceReplyParsing, HeadBodySeparation) {
  EXPECT_EQ(parse_reply("").error().text(), "响应没有头体分隔");
  EXPECT_EQ(parse_reply("\r\n\r").error().text(), "响应没有头体分隔");
  EXPECT_EQ(parse_reply("HTTP/1.1 200 OK\r\n{\"ok\":true}").error().text(), "响应没有头体分隔");
  // Only the first separator counts; the body may contain another.
  const auto r = parse_reply("HTTP/1.1 200 OK\r\n\r\n\"a\r\n\r\nb\"");
  EXPECT_EQ(r.error().text(),
            "响应不是 JSON：parse error at line 1, column 3: syntax error while parsing value - "
            "invalid string: control character U+000D (CR) must be escaped to \\u000D or \\r; "
            "last read: '\"a<U+000D>'");
}

TEST(ServiceReplyParsing, BodyMustBeOneJsonValue) {
  const auto empty = parse_reply("HTTP/1.1 200 OK\r\n\r\n");
  EXPECT_EQ(empty.error().text().rfind("响应不是 JSON：parse error at line 1, column 1: ", 0), 0u)
      << empty.error().text();
  EXPECT_NE(empty.error().text().find("unexpected end of input"), std::string::npos);

  const auto chunked = parse_reply(reply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked", "b\r\n{\"ok\":true}\r\n0\r\n\r\n"));
  EXPECT_EQ(chunked.error().text().rfind("响应不是 JSON：", 0), 0u);

  const auto ok = parse_reply(reply("HTTP/1.1 200 OK", " [1, 2] \n"));
  ASSERT_TRUE(ok.ok());
  EXPECT_EQ(*ok, JsonValue::parse("[1,2]"));
}

TEST(ServiceReplyParsing, UnauthorisedBecomesTheBadTokenObject) {
  const auto r = parse_reply(reply("HTTP/1.1 401 Unauthorized", "{\"ok\":true,\"x\":1}"));
  ASSERT_TRUE(r.ok());
  EXPECT_EQ(ruvo::common::to_compact(*r),
            "{\"kind\":\"auth\",\"message\":\"token 不对（Ruvo 可能刚重启），重试一次\",\"ok\":false}");
  // The body is parsed first: a 401 without a JSON body is a parse failure.
  EXPECT_EQ(parse_reply(reply("HTTP/1.1 401 Unauthorized", "denied")).error().text().rfind("响应不是 JSON：", 0), 0u);
}

TEST(ServiceReplyParsing, OtherStatusesPassTheBodyThrough) {
  for (const char* status : {"HTTP/1.1 404 Not Found", "HTTP/1.1 500 Oops", "HTTP/1.0 200 OK"}) {
    const auto r = parse_reply(reply(status, "{\"ok\":false,\"message\":\"m\"}"));
    ASSERT_TRUE(r.ok()) << status;
    EXPECT_EQ((*r)["message"], "m");
  }
  // Invalid UTF-8 in the head is replaced, not rejected.
  EXPECT_TRUE(parse_reply("HTTP/1.1\xFF 200 \xFE\r\n\r\n{}").ok());
}
