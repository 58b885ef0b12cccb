// The hint line a terminal gets after a lookup or explain: what it says for
// each kind of reply, and that lookup and explain add it only when asked to
// (standard error is a terminal) and never with --json.
#include "cli/explain.hpp"
#include "cli/hint_line.hpp"
#include "cli/lookup.hpp"
#include "support/scripted_client.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ruvo::cli {
namespace {

using common::JsonValue;
using test::ScriptedClient;

JsonValue json(std::string_view text) { return JsonValue::parse(text); }

const std::string kReplacement = "\xEF\xBF\xBD";  // U+FFFD

struct HintCase {
  const char* name;
  const char* reply;
  std::string hint;
};

TEST(SuggestionsHint, Table) {
  const HintCase cases[] = {
      {"two", R"({"suggestions":["RAG","Rag"]})", "是不是要找：RAG、Rag\n"},
      {"one", R"({"suggestions":["向量数据库"]})", "是不是要找：向量数据库\n"},
      {"at most five", R"({"suggestions":["a","b","c","d","e","f","g"]})", "是不是要找：a、b、c、d、e\n"},
      {"only strings that are not blank count", R"({"suggestions":[1,null,"","  ","\u3000",{"term":"x"},"RAG",["y"]]})",
       "是不是要找：RAG\n"},
      {"five counted among the usable ones", R"({"suggestions":["", "a", 2, "b", "c", "d", "e", "f"]})",
       "是不是要找：a、b、c、d、e\n"},
      {"a line feed stays on the line", R"({"suggestions":["a\nb"]})",
       "是不是要找：a" + kReplacement + "b\n"},
      {"kept as received otherwise", R"({"suggestions":[" RAG ","a\tb"]})", "是不是要找： RAG 、a\tb\n"},
      {"empty", R"({"suggestions":[]})", ""},
      {"nothing usable", R"({"suggestions":["",7]})", ""},
      {"not an array", R"({"suggestions":"RAG"})", ""},
      {"none", R"({"hit":false})", ""},
      {"not an object", R"(["RAG"])", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(suggestions_hint(json(c.reply)), c.hint);
  }
}

TEST(EntriesHint, Table) {
  const HintCase cases[] = {
      {"two dictionaries",
       R"({"entries":[{"origin":"glossary"},{"dictionary":{"id":"d1","name":"FOLDOC"}},)"
       R"({"dictionary":{"id":"d2","name":"Jargon"}}]})",
       "另有 2 条解释：FOLDOC、Jargon（--json 可看全部）\n"},
      {"the first is the one printed, never counted or named",
       R"({"entries":[{"dictionary":{"id":"d1","name":"FOLDOC"}},{"origin":"user"}]})",
       "另有 1 条解释：你的词条（--json 可看全部）\n"},
      {"origins without a dictionary", R"({"entries":[{},{"origin":"user"},{"origin":"glossary"},{"origin":"model"}]})",
       "另有 3 条解释：你的词条、内置词汇表、模型的解释（--json 可看全部）\n"},
      {"a name given once, in order",
       R"({"entries":[{},{"dictionary":{"name":"B"}},{"dictionary":{"name":"A"}},{"dictionary":{"name":"B"}},)"
       R"({"origin":"user"},{"origin":"user"}]})",
       "另有 5 条解释：B、A、你的词条（--json 可看全部）\n"},
      {"more than five names",
       R"({"entries":[{},{"dictionary":{"name":"a"}},{"dictionary":{"name":"b"}},{"dictionary":{"name":"c"}},)"
       R"({"dictionary":{"name":"d"}},{"dictionary":{"name":"e"}},{"dictionary":{"name":"f"}}]})",
       "另有 6 条解释：a、b、c、d、e 等（--json 可看全部）\n"},
      {"a dictionary without a usable name falls back to the origin",
       R"({"entries":[{},{"dictionary":{"id":"d1"},"origin":"glossary"},{"dictionary":{"name":"  "},"origin":"user"},)"
       R"({"dictionary":"FOLDOC","origin":"model"}]})",
       "另有 3 条解释：内置词汇表、你的词条、模型的解释（--json 可看全部）\n"},
      {"entries that name nothing are still counted",
       R"({"entries":[{},{"origin":"elsewhere"},7,{"dictionary":{"name":"FOLDOC"}}]})",
       "另有 3 条解释：FOLDOC（--json 可看全部）\n"},
      {"nothing named at all", R"({"entries":[{},{},"x"]})", "另有 2 条解释（--json 可看全部）\n"},
      {"cut by the service",
       R"({"entriesTruncated":true,"entries":[{},{"dictionary":{"name":"FOLDOC"}},{"dictionary":{"name":"Jargon"}}]})",
       "另有不止 2 条解释：FOLDOC、Jargon（--json 可看其中 2 条）\n"},
      {"entriesTruncated must be true", R"({"entriesTruncated":"yes","entries":[{},{"origin":"user"}]})",
       "另有 1 条解释：你的词条（--json 可看全部）\n"},
      {"a name on one line", R"({"entries":[{},{"dictionary":{"name":"A\nB"}}]})",
       "另有 1 条解释：A" + kReplacement + "B（--json 可看全部）\n"},
      {"one entry: the one printed", R"({"entries":[{"dictionary":{"name":"FOLDOC"}}]})", ""},
      {"one entry, cut", R"({"entriesTruncated":true,"entries":[{}]})", ""},
      {"no entries", R"({"entries":[]})", ""},
      {"not an array", R"({"entries":{"a":{},"b":{}}})", ""},
      {"none", R"({"hit":true})", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(entries_hint(json(c.reply)), c.hint);
  }
}

TEST(LookupAndExplainHints, WhichKindOfReplyGetsWhich) {
  const std::string entries = R"("entries":[{},{"origin":"user"}])";
  const std::string suggestions = R"("suggestions":["RAG"])";
  const std::string more = "另有 1 条解释：你的词条（--json 可看全部）\n";
  const std::string near = "是不是要找：RAG\n";
  struct Case {
    std::string reply;
    std::string lookup;
    std::string explain;
  };
  const Case cases[] = {
      // A lookup hit, or an explanation: the other entries.
      {R"({"ok":true,"hit":true,)" + entries + "," + suggestions + "}", more, more},
      // A lookup miss: the suggestions; explain answered all the same.
      {R"({"ok":true,"hit":false,)" + entries + "," + suggestions + "}", near, more},
      {R"({"hit":false,)" + suggestions + "}", near, ""},
      // A miss of explain: the suggestions; a lookup failure.
      {R"({"ok":false,"kind":"miss","message":"词库里没有",)" + suggestions + "," + entries + "}", "", near},
      // Other failures tell nothing more.
      {R"({"ok":false,"kind":"model","message":"模型超时",)" + suggestions + "}", "", ""},
      {R"({"ok":false,"kind":"auth",)" + suggestions + "}", "", ""},
      {R"({"ok":"true","hit":"true",)" + entries + "}", "", ""},
      {R"({"ok":true,"hit":true})", "", ""},
      {R"([1,2])", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reply);
    EXPECT_EQ(lookup_hint(json(c.reply)), c.lookup);
    EXPECT_EQ(explain_hint(json(c.reply)), c.explain);
  }
}

const char* const kLookupHit =
    R"({"ok":true,"hit":true,"term":"RAG","definition":"检索增强生成",)"
    R"("entries":[{"origin":"glossary"},{"dictionary":{"id":"d1","name":"FOLDOC"}},{"dictionary":{"name":"Jargon"}}]})";
const char* const kLookupMiss = R"({"ok":true,"hit":false,"suggestions":["RAG","Rag"]})";

TEST(LookupCommand, TheHintLineComesOnlyWhenAskedForAndNeverWithJson) {
  struct Case {
    const char* name;
    std::vector<std::string> words;
    const char* reply;
    Hints hints;
    Outcome outcome;
  };
  const std::string hit_json = common::to_pretty(json(kLookupHit)) + "\n";
  const Case cases[] = {
      {"hit on a terminal",
       {"rag"},
       kLookupHit,
       Hints::kShown,
       {0, "RAG\n定义：检索增强生成\n", "", "另有 2 条解释：FOLDOC、Jargon（--json 可看全部）\n"}},
      {"hit elsewhere", {"rag"}, kLookupHit, Hints::kNone, {0, "RAG\n定义：检索增强生成\n", "", ""}},
      {"hit with --json", {"rag", "--json"}, kLookupHit, Hints::kShown, {0, hit_json, "", ""}},
      {"miss on a terminal",
       {"rga"},
       kLookupMiss,
       Hints::kShown,
       {0, "词库里没有「rga」\n", "", "是不是要找：RAG、Rag\n"}},
      {"miss elsewhere", {"rga"}, kLookupMiss, Hints::kNone, {0, "词库里没有「rga」\n", "", ""}},
      {"miss without suggestions",
       {"rga"},
       R"({"ok":true,"hit":false,"suggestions":[]})",
       Hints::kShown,
       {0, "词库里没有「rga」\n", "", ""}},
      {"failure",
       {"rga"},
       R"({"ok":false,"message":"坏了","suggestions":["RAG"]})",
       Hints::kShown,
       {1, "", "坏了\n", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedClient client;
    client.reply = json(c.reply);
    EXPECT_EQ(run_lookup(c.words, client, c.hints), c.outcome);
    EXPECT_EQ(client.requests.size(), 1u);
  }
}

platform::ReadFunction no_input() {
  return [](char*, std::size_t) -> common::Result<std::size_t> { return std::size_t{0}; };
}

TEST(ExplainCommand, TheHintLineComesOnlyWhenAskedForAndNeverWithJson) {
  const char* const hit =
      R"({"ok":true,"term":"RAG","source":"local","definition":"检索增强生成",)"
      R"("entries":[{"origin":"user"},{"origin":"glossary"},{"dictionary":{"name":"FOLDOC"}}],"entriesTruncated":true})";
  const char* const miss =
      R"({"ok":false,"kind":"miss","message":"词库里没有「rga」，而这次不允许调用模型","suggestions":["RAG"]})";
  struct Case {
    const char* name;
    std::vector<std::string> words;
    const char* reply;
    Hints hints;
    Outcome outcome;
  };
  const Case cases[] = {
      {"explained on a terminal",
       {"RAG"},
       hit,
       Hints::kShown,
       {0, "RAG（local）\n\n定义：检索增强生成\n", "",
        "另有不止 2 条解释：内置词汇表、FOLDOC（--json 可看其中 2 条）\n"}},
      {"explained elsewhere", {"RAG"}, hit, Hints::kNone, {0, "RAG（local）\n\n定义：检索增强生成\n", "", ""}},
      {"explained with --json",
       {"RAG", "--json"},
       hit,
       Hints::kShown,
       {0, common::to_pretty(json(hit)) + "\n", "", ""}},
      // The miss is a failure: its message, then the suggestions after it.
      {"a miss on a terminal",
       {"rga", "--no-cloud"},
       miss,
       Hints::kShown,
       {1, "", "词库里没有「rga」，而这次不允许调用模型\n", "是不是要找：RAG\n"}},
      {"a miss elsewhere",
       {"rga", "--no-cloud"},
       miss,
       Hints::kNone,
       {1, "", "词库里没有「rga」，而这次不允许调用模型\n", ""}},
      {"a miss with --json", {"rga", "--json"}, miss, Hints::kShown, {0, common::to_pretty(json(miss)) + "\n", "", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedClient client;
    client.reply = json(c.reply);
    EXPECT_EQ(run_explain(c.words, client, no_input(), {}, c.hints), c.outcome);
    EXPECT_EQ(client.requests.size(), 1u);
  }
}

}  // namespace
}  // namespace ruvo::cli
