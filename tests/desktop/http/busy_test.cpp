// The service over real HTTP while something holds what a request needs:
// the store's writer taken by another program, every export in flight, an
// import on its way. Such a request is told 503 "busy" in words for people,
// from the head when the head decides it, and the rest goes on answering.
#include "http/http_server.hpp"

#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "support/http.hpp"
#include "support/service_fixture.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace ruvo::desktop::http {
namespace {

using test::request_bytes;
using test::split_reply;

constexpr const char* kToken = "fedcba9876543210fedcba9876543210";

class BusyTest : public test::ServiceTest {
 protected:
  BusyTest() : ServiceTest(kToken, "1.2.3") {}

  void SetUp() override {
    ServiceTest::SetUp();
    ctx_->import_file = dir_.file("import.upload");
    http_ = std::make_unique<HttpService>(*ctx_, log_sink(), HttpLimits{});
    auto bound = http_->bind();
    ASSERT_TRUE(bound.ok()) << bound.error().text();
    port_ = *bound;
    auto started = http_->start();
    ASSERT_TRUE(started.ok()) << started.error().text();
  }

  void TearDown() override {
    if (http_) http_->stop();
  }

  struct Answer {
    int status = -1;
    JsonValue body;
    std::string bytes;
  };
  Answer send(const std::string& bytes) {
    auto reply = test::http_exchange(static_cast<std::uint16_t>(port_), bytes);
    EXPECT_TRUE(reply.has_value()) << "exchange failed";
    Answer out;
    out.bytes = reply.value_or("");
    // After an interim "100 Continue" the final reply is the last one.
    const auto last = out.bytes.rfind("HTTP/1.1 ");
    auto split = split_reply(last == std::string::npos ? out.bytes : out.bytes.substr(last));
    out.status = split.status;
    auto parsed = common::parse_json(split.body);
    if (parsed) out.body = std::move(parsed).value();
    return out;
  }
  Answer ask(std::string_view method, std::string_view path, std::string_view body = "") {
    return send(request_bytes(method, path, body, kToken));
  }

  platform::TcpStream connect() {
    auto connected = platform::TcpStream::connect_loopback(static_cast<std::uint16_t>(port_), 5000);
    EXPECT_TRUE(connected.ok());
    return connected ? std::move(connected).value() : platform::TcpStream();
  }

  // Waits (bounded) until the import file is there or gone, as wanted.
  bool import_file_becomes(bool present) {
    for (int i = 0; i < 2000; ++i) {
      if (platform::file_size(ctx_->import_file).has_value() == present) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  std::unique_ptr<HttpService> http_;
  int port_ = 0;
};

std::string import_head(std::string_view token, std::size_t length, bool expect_continue) {
  std::string head = "POST /v1/import HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  if (!token.empty()) head += "X-Ruvo-Token: " + std::string(token) + "\r\n";
  head += "Content-Type: application/x-ndjson\r\nContent-Length: " + std::to_string(length) + "\r\n";
  if (expect_continue) head += "Expect: 100-continue\r\n";
  return head + "Connection: close\r\n\r\n";
}

const std::string kLine = R"({"term":"Agent","lang":"zh","categoryId":"term","fields":{"definition":"智能体"}})"
                          "\n";

void expect_busy(const std::string& what, int status, const JsonValue& body) {
  EXPECT_EQ(status, 503) << what << ": " << body.dump();
  EXPECT_EQ(body.value("ok", true), false) << what;
  EXPECT_EQ(body.value("kind", ""), "busy") << what << ": " << body.dump();
  const std::string message = body.value("message", "");
  EXPECT_FALSE(message.empty()) << what;
  for (const char* sql : {"BEGIN", "locked", "SQLITE", "database", "sqlite"}) {
    EXPECT_EQ(message.find(sql), std::string::npos) << what << ": " << message;
  }
}

TEST_F(BusyTest, WritesAreBusyWhileAnotherProgramWritesAndReadsStillAnswer) {
  auto saved = ask("POST", "/v1/save", R"({"term":"RAG","lang":"zh","categoryId":"term","fields":{"定义":"检索"}})");
  ASSERT_EQ(saved.status, 200) << saved.bytes;
  const std::string id = saved.body.value("id", "");

  // Another program (ruvo-gui.exe --import, say) holds the write lock.
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open_v2(dir_.file("terms.sqlite3").c_str(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(other);

  struct Write {
    const char* method;
    std::string path;
    std::string body;
  };
  const Write writes[] = {
      {"POST", "/v1/save", R"({"term":"Prompt","lang":"zh","categoryId":"term","fields":{"定义":"提示词"}})"},
      {"DELETE", "/v1/terms/" + id, ""},
      {"POST", "/v1/import", kLine},
  };
  for (const auto& w : writes) {
    auto answer = ask(w.method, w.path, w.body);
    expect_busy(std::string(w.method) + " " + w.path, answer.status, answer.body);
    if (std::string_view(w.method) == "POST" && w.path == "/v1/save") {
      EXPECT_EQ(answer.body.value("message", ""), std::string(store::kStoreBusyMessage));
    }
  }

  // Reads never need the writer.
  auto health = ask("GET", "/v1/health");
  EXPECT_EQ(health.status, 200) << health.bytes;
  EXPECT_EQ(health.body["terms"], 1);
  auto hit = ask("POST", "/v1/lookup", R"({"text":"rag"})");
  EXPECT_EQ(hit.status, 200) << hit.bytes;
  EXPECT_EQ(hit.body.value("hit", false), true) << hit.bytes;
  auto miss = ask("POST", "/v1/lookup", R"({"text":"无此词"})");
  EXPECT_EQ(miss.status, 200) << miss.bytes;
  EXPECT_EQ(miss.body.value("hit", true), false) << miss.bytes;
  for (const char* path : {"/v1/terms?q=rag", "/v1/misses", "/v1/export"}) {
    auto read = ask("GET", path);
    EXPECT_EQ(read.status, 200) << path << "\n" << read.bytes;
  }
  auto entry = ask("GET", "/v1/terms/" + id);
  EXPECT_EQ(entry.status, 200) << entry.bytes;

  sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  auto after = ask("POST", "/v1/save", writes[0].body);
  EXPECT_EQ(after.status, 200) << after.bytes;
}

TEST_F(BusyTest, AnExportPastTheFourInFlightIsBusyAtOnce) {
  ASSERT_EQ(ask("POST", "/v1/save", R"({"term":"RAG","lang":"zh","categoryId":"term","fields":{"定义":"检索"}})").status,
            200);
  std::vector<store::TermExport> in_flight;
  for (int i = 0; i < store::kMaxExportsInFlight; ++i) {
    auto opened = store_->open_export();
    ASSERT_TRUE(opened.ok()) << opened.error().text();
    in_flight.push_back(std::move(opened).value());
  }
  auto fifth = ask("GET", "/v1/export");
  expect_busy("the fifth export", fifth.status, fifth.body);
  EXPECT_EQ(fifth.bytes.find("\"term\":\"RAG\""), std::string::npos) << fifth.bytes;
  in_flight.pop_back();
  auto next = ask("GET", "/v1/export");
  EXPECT_EQ(next.status, 200) << next.bytes;
  EXPECT_NE(next.bytes.find("\"term\":\"RAG\""), std::string::npos) << next.bytes;
}

TEST_F(BusyTest, OneImportAtATimeRefusedFromTheHeadAndItsFileRemovedAfter) {
  // An import whose body is on its way (one byte short): it holds the slot.
  auto holding = connect();
  ASSERT_TRUE(holding.write_all(import_head(kToken, kLine.size() + 1, false) + kLine).ok());
  ASSERT_TRUE(import_file_becomes(true)) << "the held import's body is not written to its file";

  struct Case {
    const char* name;
    std::string token;
    bool expect_continue;
    int status;
  };
  const Case cases[] = {
      {"a second import", kToken, false, 503},
      {"a second import asking first", kToken, true, 503},
      {"no token", "", false, 401},
      {"no token, asking first", "", true, 401},
      {"a wrong token", "0000000000000000000000000000000000", true, 401},
  };
  for (const auto& c : cases) {
    // A client that asks first is answered without being asked for its body.
    auto answer = send(import_head(c.token, kLine.size(), c.expect_continue) + (c.expect_continue ? "" : kLine));
    EXPECT_EQ(answer.status, c.status) << c.name << "\n" << answer.bytes;
    EXPECT_EQ(answer.bytes.find("100 Continue"), std::string::npos) << c.name;
    if (c.status == 503) {
      expect_busy(c.name, answer.status, answer.body);
    } else {
      EXPECT_EQ(answer.body.value("kind", ""), "auth") << c.name << ": " << answer.bytes;
    }
  }
  // Nothing of the refused ones reached the store or the held import's file.
  EXPECT_EQ(platform::file_size(ctx_->import_file).value_or(0), kLine.size());
  EXPECT_EQ(store_->known_count(), 0);

  // The client that went away leaves no file, and frees the slot.
  holding.close();
  ASSERT_TRUE(import_file_becomes(false)) << "an abandoned import left its file";
  auto imported = ask("POST", "/v1/import", kLine);
  EXPECT_EQ(imported.status, 200) << imported.bytes;
  EXPECT_EQ(imported.body.value("added", 0), 1) << imported.bytes;
  EXPECT_TRUE(import_file_becomes(false)) << "an import left its file";
  auto malformed = ask("POST", "/v1/import", "{\"term\":\n");
  EXPECT_EQ(malformed.status, 400) << malformed.bytes;
  EXPECT_TRUE(import_file_becomes(false)) << "a refused import left its file";
  EXPECT_EQ(store_->known_count(), 1);
}

}  // namespace
}  // namespace ruvo::desktop::http
