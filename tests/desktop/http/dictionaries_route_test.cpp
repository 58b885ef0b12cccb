// The dictionaries through the handler table: added from files the readers' writers make, listed,
// changed and removed; and what lookups, explains, searches and health then answer.
#include "http/handlers.hpp"

#include "desktop/readers/writers.hpp"
#include "support/service_fixture.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace ruvo::desktop::http {
namespace {

using test::TempDir;

constexpr const char* kToken = "0123456789abcdef0123456789abcdef";

class DictionaryRoutesTest : public test::ServiceTest {
 protected:
  DictionaryRoutesTest() : ServiceTest(kToken, "9.9.9") {}

  void SetUp() override {
    ServiceTest::SetUp();
    ::setenv("RUVO_DICTIONARY_DIRS", files.path().c_str(), 1);  // "found" lists what the test made
    const auto foldoc =
        ruvo::test::dictd_files({{{"deadlock"}, "deadlock\n\n   When two {processes} wait for each other.\n"},
                                 {{"mutex"}, "mutex\n\n   A {mutual exclusion} object.\n"},
                                 {{"mutex"}, "MuTeX\n\n   An extension of TeX for music.\n"},
                                 {{"RAG"}, "RAG\n\n   A rag of foldoc's.\n"}},
                                "FOLDOC test", "00-database-info\nLicence: GFDL.\n");
    ASSERT_TRUE(ruvo::test::write_bytes(files.file("foldoc.index"), foldoc.index));
    ASSERT_TRUE(ruvo::test::write_bytes(files.file("foldoc.dict"), foldoc.dict));
    ASSERT_TRUE(ruvo::test::write_bytes(files.file("cedict.u8"),
                                        "# CC-CEDICT\n死鎖 死锁 [si3 suo3] /deadlock (computing)/\n"
                                        "僵局 僵局 [jiang1 ju2] /impasse/deadlock/\n"));
  }
  void TearDown() override { ::setenv("RUVO_DICTIONARY_DIRS", "", 1); }

  Reply call(std::string_view method, std::string_view path, std::string_view body = "") {
    return handle_request(*ctx_, method, path, std::string(kToken), body);
  }
  Reply post(std::string_view path, const JsonValue& body) { return call("POST", path, body.dump()); }

  TempDir files{"ruvo-dicts-"};
};

std::vector<std::string> sources_of(const JsonValue& entries) {
  std::vector<std::string> out;
  for (const auto& e : entries) {
    out.push_back(
        e["term"].get<std::string>() + "/" +
        (e.contains("dictionary") ? e["dictionary"]["name"].get<std::string>() : e["origin"].get<std::string>()));
  }
  return out;
}

std::vector<std::string> sources_of_listed(const JsonValue& terms) {
  std::vector<std::string> out;
  for (const auto& t : terms) {
    out.push_back(
        t["term"].get<std::string>() + "/" +
        (t.contains("dictionary") ? t["dictionary"]["name"].get<std::string>() : t["source"].get<std::string>()));
  }
  return out;
}

TEST_F(DictionaryRoutesTest, AddedDictionariesAnswerBesideTheGlossaryAndInTheirOrder) {
  Reply listed = call("GET", "/v1/dictionaries");
  ASSERT_EQ(listed.status, 200) << listed.body.dump();
  EXPECT_TRUE(listed.body["dictionaries"].empty());
  ASSERT_EQ(listed.body["found"].size(), 2u);  // both files, found on "the system", not added

  Reply added = post("/v1/dictionaries", {{"path", files.path()}});
  ASSERT_EQ(added.status, 200) << added.body.dump();
  ASSERT_EQ(added.body["added"].size(), 2u);
  const JsonValue cedict = added.body["added"][0];
  const JsonValue foldoc = added.body["added"][1];
  EXPECT_EQ(cedict["name"], "CC-CEDICT");
  EXPECT_EQ(cedict["format"], "cedict");
  EXPECT_EQ(foldoc["name"], "FOLDOC test");
  EXPECT_EQ(foldoc["entries"], 4);  // mutex and MuTeX apart
  EXPECT_NE(foldoc["info"].get<std::string>().find("GFDL"), std::string::npos);
  EXPECT_TRUE(call("GET", "/v1/dictionaries").body["found"].empty());

  // The person's RAG stays the answer; FOLDOC's is among the entries.
  ASSERT_EQ(post("/v1/save", {{"term", "RAG"}, {"fields", {{"定义", "我的"}}}}).status, 200);
  Reply rag = post("/v1/lookup", {{"text", "RAG"}});
  EXPECT_EQ(rag.body["origin"], "user");
  EXPECT_FALSE(rag.body.contains("dictionary"));
  EXPECT_EQ(sources_of(rag.body["entries"]).back(), "RAG/FOLDOC test");

  // A name only dictionaries know: the first in the person's order answers, labelled.
  Reply mutex = post("/v1/lookup", {{"text", "MuTeX"}});
  ASSERT_EQ(mutex.body["hit"], true) << mutex.body.dump();
  EXPECT_EQ(mutex.body["term"], "MuTeX");
  EXPECT_EQ(mutex.body["origin"], "dictionary");
  EXPECT_EQ(mutex.body["dictionary"]["name"], "FOLDOC test");
  EXPECT_EQ(mutex.body["dictionary"]["id"], foldoc["id"]);
  EXPECT_EQ(sources_of(mutex.body["entries"]), (std::vector<std::string>{"MuTeX/FOLDOC test", "mutex/FOLDOC test"}));
  EXPECT_EQ(mutex.body["entries"][1]["seeAlso"], JsonValue::array({"mutual exclusion"}));

  // Across languages, both ways.
  Reply deadlock = post("/v1/explain", {{"text", "deadlock"}, {"lang", "zh"}, {"mode", "term"}});
  ASSERT_EQ(deadlock.body["source"], "local") << deadlock.body.dump();
  ASSERT_TRUE(deadlock.body["related"].is_array()) << deadlock.body.dump();
  EXPECT_EQ(deadlock.body["related"][0]["term"], "死锁");
  EXPECT_EQ(deadlock.body["related"][0]["dictionary"]["name"], "CC-CEDICT");
  Reply silock = post("/v1/lookup", {{"text", "死鎖"}});
  ASSERT_TRUE(silock.body["related"].is_array()) << silock.body.dump();
  EXPECT_EQ(silock.body["related"][0]["term"], "deadlock");
  EXPECT_EQ(silock.body["related"][0]["via"], "deadlock");

  // Search says each result's dictionary; health counts dictionaries apart.
  Reply search = handle_request(*ctx_, "GET", "/v1/terms", QueryParameters{{"q", "mutex"}}, std::string(kToken), "");
  ASSERT_EQ(search.status, 200) << search.body.dump();
  EXPECT_EQ(sources_of_listed(search.body["terms"]),
            (std::vector<std::string>{"mutex/FOLDOC test", "MuTeX/FOLDOC test"}));
  Reply health = call("GET", "/v1/health");
  EXPECT_EQ(health.body["dictionaries"], (JsonValue{{"count", 2}, {"entries", 6}}));
  EXPECT_EQ(health.body["terms"], 1);  // the person's RAG alone
  const JsonValue terms_before = health.body["terms"];

  // The order, enabling, renaming and removal.
  const std::string foldoc_path = "/v1/dictionaries/" + foldoc["id"].get<std::string>();
  Reply renamed = call("PATCH", foldoc_path, R"({"name":"FOLDOC","position":0})");
  ASSERT_EQ(renamed.status, 200) << renamed.body.dump();
  EXPECT_EQ(renamed.body["dictionary"]["position"], 0);
  EXPECT_EQ(post("/v1/lookup", {{"text", "mutex"}}).body["dictionary"]["name"], "FOLDOC");
  ASSERT_EQ(call("PATCH", foldoc_path, R"({"enabled":false})").status, 200);
  EXPECT_EQ(post("/v1/lookup", {{"text", "mutex"}}).body["hit"], false);
  EXPECT_EQ(call("GET", "/v1/health").body["dictionaries"]["count"], 1);
  ASSERT_EQ(call("DELETE", foldoc_path).status, 200);
  EXPECT_EQ(call("DELETE", foldoc_path).status, 404);
  EXPECT_EQ(call("GET", "/v1/dictionaries").body["found"].size(), 1u);  // removed, found again
  EXPECT_EQ(call("GET", "/v1/health").body["terms"], terms_before);
}

TEST_F(DictionaryRoutesTest, RefusalsSayWhatIsWrong) {
  struct Case {
    std::string method, path, body;
    int status;
  };
  const Case cases[] = {
      {"POST", "/v1/dictionaries", R"({})", 400},
      {"POST", "/v1/dictionaries", R"({"path":"/nowhere/at/all"})", 400},
      {"POST", "/v1/dictionaries", R"([1])", 400},
      {"PUT", "/v1/dictionaries", "", 405},
      {"GET", "/v1/dictionaries/1", "", 405},
      {"PATCH", "/v1/dictionaries/99", R"({"enabled":true})", 404},
      {"PATCH", "/v1/dictionaries/x", R"({"enabled":true})", 404},
      {"DELETE", "/v1/dictionaries/99", "", 404},
  };
  for (const auto& c : cases) {
    Reply reply = call(c.method, c.path, c.body);
    EXPECT_EQ(reply.status, c.status) << c.method << " " << c.path << " " << c.body;
    EXPECT_EQ(reply.body["ok"], false) << c.method << " " << c.path;
  }
  // A truncated dictionary adds nothing.
  const std::string index = files.file("foldoc.index");
  ASSERT_TRUE(ruvo::test::write_bytes(files.file("foldoc.dict"), "dead"));
  Reply broken = post("/v1/dictionaries", {{"path", index}});
  EXPECT_EQ(broken.status, 400) << broken.body.dump();
  EXPECT_TRUE(call("GET", "/v1/dictionaries").body["dictionaries"].empty());

  Reply added = post("/v1/dictionaries", {{"path", files.file("cedict.u8")}});
  ASSERT_EQ(added.status, 200);
  const std::string path = "/v1/dictionaries/" + added.body["added"][0]["id"].get<std::string>();
  const std::pair<std::string, int> changes[] = {
      {R"({"enabled":"yes"})", 400}, {R"({"position":-1})", 400}, {R"({"name":""})", 400},
      {R"({"colour":"red"})", 400},  {"not json", 400},
  };
  for (const auto& [body, status] : changes) EXPECT_EQ(call("PATCH", path, body).status, status) << body;
}

}  // namespace
}  // namespace ruvo::desktop::http
