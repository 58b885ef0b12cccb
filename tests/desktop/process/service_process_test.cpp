// ruvo-gui.exe as a real process: started with APPDATA pointing at a
// temporary folder, stopped by its pid.
#include "client/http.hpp"
#include "desktop/readers/writers.hpp"
#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "support/damaged_store.hpp"
#include "support/http.hpp"
#include "support/local_service.hpp"
#include "support/outside_file.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <memory>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace ruvo::desktop {
namespace {

using common::JsonValue;
using test::Child;
using test::gui_program;
using test::kExitLimitMs;
using test::kStartLimitMs;
using test::TempDir;
using test::wait_for_discovery;

class ServiceProcessTest : public ::testing::Test {
 protected:
  std::string data_folder() const { return dir_.file("com.corvanta.desktop"); }
  std::string discovery_path() const { return data_folder() + "/explain.json"; }

  // The standard streams are files of the test folder, so a test can see
  // whether the service let go of them.
  std::unique_ptr<Child> start() { return start_in(dir_); }

  // The same with `appdata` as the application-data folder.
  static std::unique_ptr<Child> start_in(const TempDir& appdata) {
    std::string input = appdata.file("service.in");
    if (!platform::is_regular_file(input)) {
      EXPECT_TRUE(platform::write_file_atomically(input, "").ok());
    }
    return std::make_unique<Child>(
        gui_program(), std::vector<std::string>{"--service"},
        std::map<std::string, std::string>{{"APPDATA", appdata.path()}},
        Child::Files{.out = appdata.file("service.out"), .err = appdata.file("service.err"), .in = input});
  }

  // Starts an instance and waits until it has published a discovery file
  // with a token other than `not_token`.
  std::pair<std::unique_ptr<Child>, protocol::ServiceInfo> start_serving(const std::string& not_token = {}) {
    auto process = start();
    auto info = wait_for_discovery(discovery_path(), kStartLimitMs, not_token);
    EXPECT_TRUE(info.has_value()) << "no discovery file from pid " << process->pid();
    return {std::move(process), info.value_or(protocol::ServiceInfo{})};
  }

  std::string lock_path() const { return data_folder() + "/ruvo-gui.lock"; }
  std::string store_path() const { return data_folder() + "/ruvo-terms.sqlite3"; }
  std::string log_text() const { return platform::read_file(data_folder() + "/ruvo-gui.log").value_or(""); }

  static JsonValue call(const protocol::ServiceInfo& info, std::string_view method, std::string_view path,
                        const JsonValue* body) {
    auto reply = client::service_request(info, protocol::Route{method, path, 30}, body);
    EXPECT_TRUE(reply.ok()) << reply.error().text();
    return reply ? *reply : JsonValue();
  }

  TempDir dir_;
};

TEST_F(ServiceProcessTest, HelpVersionAndUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    int code;
    const char* out_part;  // empty: nothing on standard output
    const char* err_part;  // empty: nothing on standard error
  };
  const Case cases[] = {
      {{"--help"}, 0, "ruvo-gui.exe --service", ""},
      {{"-h"}, 0, "ruvo-gui.exe --service", ""},
      {{"--version"}, 0, "ruvo-gui " RUVO_VERSION "\n", ""},
      {{"-V"}, 0, "ruvo-gui " RUVO_VERSION "\n", ""},
      {{"--help"}, 0, "ruvo-gui.exe --url", ""},
      {{"--bogus"},
       2,
       "",
       "不认识的参数「--bogus」\n用法：ruvo-gui.exe [--open] | --url | --service | --stop | --export 文件|- | --import "
       "文件|- [--format jsonl|csv|tsv] | --add-dictionary 路径… | --dictionaries | --remove-dictionary 编号 | "
       "--help | --version\n"},
      {{"--url", "extra"}, 2, "", "不认识的参数「--url extra」"},
      {{"service"}, 2, "", "用法："},
      {{"--service", "extra"}, 2, "", "不认识的参数「--service extra」"},
  };
  for (const auto& c : cases) {
    auto result = test::run({.words = c.args, .program = gui_program(), .timeout_seconds = kExitLimitMs / 1000});
    std::string label = c.args.empty() ? "(no words)" : c.args[0];
    EXPECT_EQ(result.exit_code, c.code) << label;
    if (*c.out_part) {
      EXPECT_NE(result.out.find(c.out_part), std::string::npos) << label << ": " << result.out;
    } else {
      EXPECT_EQ(result.out, "") << label;
    }
    if (*c.err_part) {
      EXPECT_NE(result.err.find(c.err_part), std::string::npos) << label << ": " << result.err;
    } else {
      EXPECT_EQ(result.err, "") << label;
    }
  }
}

TEST_F(ServiceProcessTest, PublishesAPrivateDiscoveryFileAndServesTheGlossary) {
  auto [process, info] = start_serving();
  EXPECT_EQ(platform::file_mode(discovery_path()), 0600u);
  EXPECT_EQ(info.token.size(), 64u);
  EXPECT_EQ(info.version, RUVO_VERSION);

  JsonValue health = call(info, "GET", "/v1/health", nullptr);
  EXPECT_EQ(health["ok"], true);
  EXPECT_GE(health["terms"].get<int>(), 40);
  EXPECT_FALSE(health.contains("store")) << "a sound store adds nothing to health";
  JsonValue lookup = {{"text", "RAG"}};
  JsonValue hit = call(info, "POST", "/v1/lookup", &lookup);
  EXPECT_EQ(hit["hit"], true);
  EXPECT_TRUE(hit["definition"].is_string());

  // Detached from whoever started it: its own session, and the standard
  // streams it inherited (files here, an agent's pipes under ruvo mcp) are
  // let go for the null device, with nothing written to them.
  EXPECT_EQ(::getsid(process->pid()), process->pid());
  EXPECT_EQ(platform::read_file(dir_.file("service.out")), "");
  EXPECT_EQ(platform::read_file(dir_.file("service.err")), "");
  for (int fd = 0; fd <= 2; ++fd) {
    std::error_code error;
    auto target =
        std::filesystem::read_symlink("/proc/" + std::to_string(process->pid()) + "/fd/" + std::to_string(fd), error);
    EXPECT_EQ(target.string(), "/dev/null") << "fd " << fd;
  }
  // The store and the log are private, and the log never holds the token.
  for (const char* name : {"ruvo-terms.sqlite3", "ruvo-gui.log", "ruvo-gui.lock"}) {
    EXPECT_EQ(platform::file_mode(data_folder() + "/" + name), 0600u) << name;
  }
  EXPECT_EQ(platform::read_file(data_folder() + "/ruvo-gui.log").value_or("").find(info.token), std::string::npos);
}

TEST_F(ServiceProcessTest, AnsweredSaveSurvivesKillNineAndRestart) {
  std::string old_token;
  {
    auto [process, info] = start_serving();
    old_token = info.token;
    JsonValue save = {{"categoryId", "term"},
                      {"fields", {{"定义", "只在这次测试里出现的定义"}, {"例子", "例句"}}},
                      {"lang", "zh"},
                      {"term", "持久化测试词"}};
    JsonValue reply = call(info, "POST", "/v1/save", &save);
    ASSERT_EQ(reply["ok"], true) << reply.dump();
    process->signal(SIGKILL);
    EXPECT_EQ(process->wait_exit(kExitLimitMs), 128 + SIGKILL);
  }
  // The killed instance could not remove its file; the new one replaces it.
  auto [process, info] = start_serving(old_token);
  JsonValue lookup = {{"text", "持久化测试词"}};
  JsonValue hit = call(info, "POST", "/v1/lookup", &lookup);
  EXPECT_EQ(hit["hit"], true);
  EXPECT_EQ(hit["definition"], "只在这次测试里出现的定义");
  EXPECT_EQ(hit["example"], "例句");
}

TEST_F(ServiceProcessTest, SecondInstanceSaysSoInTheLogExitsThreeAndLeavesTheFirstServing) {
  auto [first, info] = start_serving();
  auto before = platform::read_file(discovery_path());
  ASSERT_TRUE(before.ok()) << before.error().text();
  auto second = start();
  EXPECT_EQ(second->wait_exit(kExitLimitMs), 3);
  EXPECT_EQ(platform::read_file(discovery_path()), *before);
  EXPECT_TRUE(first->running());
  EXPECT_EQ(call(info, "GET", "/v1/health", nullptr)["ok"], true);
  EXPECT_NE(log_text().find("another instance holds the lock " + lock_path() + "; pid " +
                            std::to_string(second->pid()) + " exits with code 3"),
            std::string::npos)
      << log_text();
  // The line names no run of its own: the log still leads to the first.
  EXPECT_EQ(test::logged_service_pid(data_folder()), first->pid());
}

TEST_F(ServiceProcessTest, StopSignalRemovesTheDiscoveryFileAndFreesTheLock) {
  for (int signal_number : {SIGTERM, SIGINT}) {
    auto [process, info] = start_serving();
    process->signal(signal_number);
    EXPECT_EQ(process->wait_exit(kExitLimitMs), 0) << "signal " << signal_number;
    EXPECT_FALSE(platform::is_regular_file(discovery_path())) << "signal " << signal_number;
  }
  // After the stops a new instance takes the lock and serves again.
  auto [process, info] = start_serving();
  EXPECT_EQ(call(info, "GET", "/v1/health", nullptr)["ok"], true);
}

TEST_F(ServiceProcessTest, StopEndsTheServiceOfTheFolderAndSaysSoWhenNoneRuns) {
  auto stop = [&] {
    return test::run(
        {.words = {"--stop"}, .program = gui_program(), .env = {{"APPDATA", dir_.path()}}, .timeout_seconds = 120});
  };
  auto none = stop();
  EXPECT_EQ(none.exit_code, 0) << none.err;
  EXPECT_EQ(none.out, "没有在运行的服务\n");

  auto [process, info] = start_serving();
  ASSERT_TRUE(info.pid.has_value());
  EXPECT_EQ(*info.pid, static_cast<std::uint32_t>(process->pid()));
  auto stopped = stop();
  EXPECT_EQ(stopped.exit_code, 0) << stopped.err;
  EXPECT_EQ(stopped.out, "服务已停止（进程 " + std::to_string(process->pid()) + "）\n");
  EXPECT_EQ(stopped.err, "");
  // It ended as on a stop signal: exit 0, its discovery file gone.
  EXPECT_EQ(process->wait_exit(kExitLimitMs), 0);
  EXPECT_FALSE(platform::is_regular_file(discovery_path()));
  auto again = stop();
  EXPECT_EQ(again.exit_code, 0) << again.err;
  EXPECT_EQ(again.out, "没有在运行的服务\n");

  // A discovery file that names another process does not choose what is
  // stopped: the lock does.
  auto [second, second_info] = start_serving(info.token);
  ASSERT_TRUE(platform::write_file_atomically(discovery_path(),
                                              protocol::discovery_content(second_info.port, second_info.token, "x", 1))
                  .ok());
  auto by_lock = stop();
  EXPECT_EQ(by_lock.exit_code, 0) << by_lock.err;
  EXPECT_EQ(by_lock.out, "服务已停止（进程 " + std::to_string(second->pid()) + "）\n");
  EXPECT_NE(by_lock.err.find("explain.json 写的进程是 1"), std::string::npos) << by_lock.err;
  EXPECT_EQ(second->wait_exit(kExitLimitMs), 0);
}

// An import cut off by the end of a run (a kill, a crash) leaves the body it
// was writing; the next start removes it, and an import through the
// service leaves none behind.
TEST_F(ServiceProcessTest, AnImportsBodyLeftByAnEarlierRunIsRemovedAtStart) {
  const std::string upload = data_folder() + "/ruvo-import.upload";
  std::string old_token;
  {
    auto [process, info] = start_serving();
    old_token = info.token;
    process->signal(SIGKILL);
    EXPECT_EQ(process->wait_exit(kExitLimitMs), 128 + SIGKILL);
  }
  ASSERT_TRUE(platform::write_file_atomically(upload, "{\"term\":\"Half").ok());
  auto [process, info] = start_serving(old_token);
  EXPECT_EQ(call(info, "GET", "/v1/health", nullptr)["ok"], true);
  EXPECT_FALSE(platform::file_size(upload).has_value()) << "the body of an earlier import is still there";
  EXPECT_NE(log_text().find("removed " + upload), std::string::npos) << log_text();

  // One JSON object is a file of one JSON line.
  const JsonValue line = {{"term", "Agent"}, {"lang", "zh"}, {"categoryId", "term"}, {"fields", {{"definition", "d"}}}};
  EXPECT_EQ(call(info, "POST", "/v1/import", &line)["imported"], 1);
  bool gone = false;
  for (int i = 0; i < 2000 && !gone; ++i) {
    gone = !platform::file_size(upload).has_value();
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(gone) << "an import through the service left its body";
}

// A stale or foreign discovery file in the folder the lock gives this
// instance is put right while it serves (a stop still removes only its own
// file: DiscoveryFileTest covers that).
TEST_F(ServiceProcessTest, ADiscoveryFileThatIsNoLongerItsOwnIsPutBack) {
  auto [process, info] = start_serving();
  const std::string own = platform::read_file(discovery_path()).value_or("");
  const std::string foreign_token = "another-instance-token";
  ASSERT_TRUE(
      platform::write_file_atomically(discovery_path(), R"({"port":1,"token":")" + foreign_token + R"(","version":""})")
          .ok());
  auto back = wait_for_discovery(discovery_path(), kStartLimitMs, foreign_token);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(back->token, info.token);
  EXPECT_EQ(platform::read_file(discovery_path()), own);
  process->signal(SIGTERM);
  EXPECT_EQ(process->wait_exit(kExitLimitMs), 0);
  EXPECT_FALSE(platform::is_regular_file(discovery_path()));
}

// Deleting explain.json under a running service used to leave it
// unreachable: ruvo started another instance, which found the lock taken
// and left, and every command waited its whole time for nothing.
TEST_F(ServiceProcessTest, RuvoFindsTheServiceAgainAfterItsDiscoveryFileIsDeleted) {
  auto [process, info] = start_serving();
  const std::string own = platform::read_file(discovery_path()).value_or("");
  ASSERT_TRUE(platform::remove_file(discovery_path()));

  auto lookup = test::run({.words = {"lookup", "RAG"}, .env = {{"APPDATA", dir_.path()}}, .timeout_seconds = 60});
  EXPECT_EQ(lookup.exit_code, 0) << lookup.err;
  EXPECT_EQ(lookup.out.rfind("RAG\n定义：", 0), 0u) << lookup.out;
  EXPECT_EQ(lookup.err, "");
  EXPECT_TRUE(process->running());
  EXPECT_EQ(platform::read_file(discovery_path()), own);
  EXPECT_NE(log_text().find("the discovery file " + discovery_path() + " was missing; put back"), std::string::npos)
      << log_text();
  EXPECT_EQ(call(info, "GET", "/v1/health", nullptr)["ok"], true);
}

TEST_F(ServiceProcessTest, TheStarterGlossaryIsFoundHoweverItIsTypedAndMissesAreCounted) {
  auto [process, info] = start_serving();
  // What people type: full width, lower case, a Chinese name of an English term.
  const std::pair<const char*, const char*> typed[] = {
      {"ＲＡＧ", "RAG\n定义："}, {"rag", "RAG\n定义："}, {"提示词", "Prompt\n定义："}, {"大語言模型", "LLM\n定义："}};
  for (const auto& [text, starts] : typed) {
    auto lookup = test::run({.words = {"lookup", text}, .env = {{"APPDATA", dir_.path()}}, .timeout_seconds = 60});
    EXPECT_EQ(lookup.exit_code, 0) << text << ": " << lookup.err;
    EXPECT_EQ(lookup.out.rfind(starts, 0), 0u) << text << ": " << lookup.out;
  }
  const JsonValue ragg{{"text", "ragg"}};
  JsonValue miss = call(info, "POST", "/v1/lookup", &ragg);
  EXPECT_EQ(miss["hit"], false);
  ASSERT_TRUE(miss["suggestions"].is_array()) << miss.dump();
  EXPECT_EQ(miss["suggestions"][0], "RAG") << miss.dump();
  call(info, "POST", "/v1/lookup", &ragg);
  JsonValue misses = call(info, "GET", "/v1/misses", nullptr);
  ASSERT_TRUE(misses["misses"].is_array()) << misses.dump();
  ASSERT_FALSE(misses["misses"].empty()) << misses.dump();
  EXPECT_EQ(misses["misses"][0]["text"], "ragg");
  EXPECT_EQ(misses["misses"][0]["count"], 2);
}

TEST_F(ServiceProcessTest, DictionariesAddedBesideARunningServiceAnswerLabelledAndReplaceNothing) {
  auto [process, info] = start_serving();
  const auto env = std::map<std::string, std::string>{{"APPDATA", dir_.path()}};
  auto ruvo = [&](std::vector<std::string> words) {
    return test::run({.words = std::move(words), .env = env, .timeout_seconds = 60});
  };
  const auto rag_before = ruvo({"lookup", "RAG"});
  ASSERT_EQ(rag_before.exit_code, 0) << rag_before.err;

  TempDir dicts("ruvo-dicts-");
  const auto foldoc = ruvo::test::dictd_files(
      {{{"MuTeX"}, "MuTeX\n\n   TeX for music.\n"}, {{"RAG"}, "RAG\n\n   foldoc's rag.\n"}}, "Tiny FOLDOC");
  ASSERT_TRUE(ruvo::test::write_bytes(dicts.file("foldoc.index"), foldoc.index));
  ASSERT_TRUE(ruvo::test::write_bytes(dicts.file("foldoc.dict.dz"), ruvo::test::dictzip_bytes(foldoc.dict, 64)));
  ruvo::test::StarDictOptions options;
  options.bookname = "Tiny StarDict";
  options.sametypesequence = "m";
  const auto star = ruvo::test::stardict_files({{"semaphore", std::string("a counter") + '\0', {}}}, options);
  ASSERT_TRUE(ruvo::test::write_bytes(dicts.file("star.ifo"), star.ifo));
  ASSERT_TRUE(ruvo::test::write_bytes(dicts.file("star.idx"), star.idx));
  ASSERT_TRUE(ruvo::test::write_bytes(dicts.file("star.dict"), star.dict));
  ASSERT_TRUE(ruvo::test::write_bytes(dicts.file("cedict.u8"), "# CC-CEDICT\n死鎖 死锁 [si3 suo3] /deadlock/\n"));

  auto added = test::run(
      {.words = {"--add-dictionary", dicts.path()}, .program = gui_program(), .env = env, .timeout_seconds = 60});
  ASSERT_EQ(added.exit_code, 0) << added.err;
  EXPECT_EQ(added.out, "CC-CEDICT：1 条\nTiny FOLDOC：2 条\nTiny StarDict：1 条\n");
  // Read once: the files may go.
  std::filesystem::remove_all(dicts.path());

  auto listed = test::run({.words = {"--dictionaries"}, .program = gui_program(), .env = env, .timeout_seconds = 60});
  ASSERT_EQ(listed.exit_code, 0) << listed.err;
  EXPECT_NE(listed.out.find("  Tiny StarDict  stardict  1 条\n"), std::string::npos) << listed.out;

  // The running service answers from them, labelled; the glossary's RAG is what ruvo prints still.
  for (const auto& [text, name] : std::vector<std::pair<std::string, std::string>>{
           {"MuTeX", "Tiny FOLDOC"}, {"semaphore", "Tiny StarDict"}, {"死锁", "CC-CEDICT"}}) {
    auto hit = ruvo({"lookup", "--json", text});
    ASSERT_EQ(hit.exit_code, 0) << text << hit.err;
    auto reply = common::parse_json(hit.out);
    ASSERT_TRUE(reply) << hit.out;
    EXPECT_EQ((*reply)["dictionary"]["name"], name) << hit.out;
    EXPECT_EQ((*reply)["origin"], "dictionary") << hit.out;
  }
  const auto rag_after = ruvo({"lookup", "RAG"});
  EXPECT_EQ(rag_after.out, rag_before.out);
  auto rag_json = common::parse_json(ruvo({"lookup", "--json", "RAG"}).out);
  ASSERT_TRUE(rag_json);
  EXPECT_EQ((*rag_json)["origin"], "glossary");
  EXPECT_EQ((*rag_json)["entries"].size(), 2u);

  auto removed =
      test::run({.words = {"--remove-dictionary", "2"}, .program = gui_program(), .env = env, .timeout_seconds = 60});
  EXPECT_EQ(removed.exit_code, 0) << removed.err;
  EXPECT_EQ(removed.out, "已删除词典 Tiny FOLDOC（2 条）\n");
  auto gone = common::parse_json(ruvo({"lookup", "--json", "MuTeX"}).out);
  ASSERT_TRUE(gone);
  EXPECT_EQ((*gone)["hit"], false);
}

TEST_F(ServiceProcessTest, ImportAndExportBesideARunningServiceAreAllOrNothingAndRoundTrip) {
  auto [process, info] = start_serving();
  auto gui = [&](const TempDir& appdata, std::vector<std::string> words) {
    return test::run({.words = std::move(words),
                      .program = gui_program(),
                      .env = {{"APPDATA", appdata.path()}},
                      .timeout_seconds = 60});
  };
  const std::string lines =
      "{\"term\":\"Kubeflow\",\"lang\":\"en\",\"fields\":{\"definition\":\"ML on Kubernetes\"},\"aliases\":[\"KF\"]}\n"
      "{\"term\":\"RAG\",\"fields\":{\"definition\":\"模型写的\"},\"source\":\"model\"}\n";
  ASSERT_TRUE(platform::write_file_atomically(dir_.file("in.jsonl"), lines).ok());
  auto imported = gui(dir_, {"--import", dir_.file("in.jsonl")});
  EXPECT_EQ(imported.exit_code, 0) << imported.err;
  EXPECT_EQ(imported.out, "导入 2 条：新增 1，更新 0，保留 1\n");
  // The running service sees it at once, and the glossary's RAG is not replaced by a model's.
  auto lookup = test::run({.words = {"lookup", "kf"}, .env = {{"APPDATA", dir_.path()}}, .timeout_seconds = 60});
  EXPECT_EQ(lookup.out.rfind("Kubeflow\n", 0), 0u) << lookup.out << lookup.err;
  auto rag = test::run({.words = {"lookup", "RAG"}, .env = {{"APPDATA", dir_.path()}}, .timeout_seconds = 60});
  EXPECT_EQ(rag.out.find("模型写的"), std::string::npos) << rag.out;

  auto exported = gui(dir_, {"--export", dir_.file("out.jsonl")});
  ASSERT_EQ(exported.exit_code, 0) << exported.err;
  const std::string first = platform::read_file(dir_.file("out.jsonl")).value_or("");
  EXPECT_NE(first.find("\"term\":\"Kubeflow\""), std::string::npos);
  EXPECT_FALSE(platform::is_regular_file(dir_.file("out.jsonl.part")));

  // A broken line 500 changes nothing and says where.
  std::string broken;
  for (int i = 1; i < 500; ++i) broken += "{\"term\":\"term " + std::to_string(i) + "\"}\n";
  broken += "{\"term\":\n";
  ASSERT_TRUE(platform::write_file_atomically(dir_.file("broken.jsonl"), broken).ok());
  auto refused = gui(dir_, {"--import", dir_.file("broken.jsonl")});
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_NE(refused.err.find("第 500 行"), std::string::npos) << refused.err;
  auto again = gui(dir_, {"--export", "-"});
  EXPECT_EQ(again.out, first);

  // Into an empty folder, and out again: the same file.
  TempDir other;
  auto into = gui(other, {"--import", dir_.file("out.jsonl")});
  EXPECT_EQ(into.exit_code, 0) << into.err;
  EXPECT_EQ(gui(other, {"--export", "-"}).out, first);

  // The same through the service, as the browser interface does it. An
  // HTTP/1.0 request gets the stream as it is, not in chunks.
  auto http = [&](std::string_view method, std::string_view path, std::string_view body) {
    std::string request = test::request_bytes(method, path, body, info.token);
    request.replace(request.find("HTTP/1.1"), 8, "HTTP/1.0");
    return test::split_reply(test::http_exchange(info.port, request).value_or(""));
  };
  auto streamed = http("GET", "/v1/export", "");
  EXPECT_EQ(streamed.status, 200) << streamed.head;
  EXPECT_NE(streamed.head.find("Content-Disposition: attachment; filename=\"ruvo-terms.jsonl\""), std::string::npos)
      << streamed.head;
  EXPECT_EQ(streamed.body, first);
  auto refused_over_http = http("POST", "/v1/import", broken);
  EXPECT_EQ(refused_over_http.status, 400);
  EXPECT_NE(refused_over_http.body.find("第 500 行"), std::string::npos) << refused_over_http.body;
  auto taken = http("POST", "/v1/import?format=tsv", "term\tdefinition\nHelm\tKubernetes 的包管理\n");
  EXPECT_EQ(taken.status, 200) << taken.body;
  EXPECT_NE(taken.body.find("\"added\":1"), std::string::npos) << taken.body;
  auto helm = test::run({.words = {"lookup", "helm"}, .env = {{"APPDATA", dir_.path()}}, .timeout_seconds = 60});
  EXPECT_EQ(helm.out.rfind("Helm\n", 0), 0u) << helm.out << helm.err;

  auto wrong = gui(dir_, {"--import", dir_.file("in.jsonl"), "--format", "xlsx"});
  EXPECT_EQ(wrong.exit_code, 1);
  EXPECT_NE(wrong.err.find("xlsx"), std::string::npos);
}

TEST_F(ServiceProcessTest, ExportAndImportTakeOnlyRegularFilesOrTheStandardStreamsWithinTheLimit) {
  auto gui = [&](std::vector<std::string> words, std::optional<std::string> input = std::nullopt) {
    return test::run({.words = std::move(words),
                      .program = gui_program(),
                      .env = {{"APPDATA", dir_.path()}},
                      .stdin_bytes = std::move(input),
                      .timeout_seconds = 120});
  };
  auto before = gui({"--export", "-"});
  ASSERT_EQ(before.exit_code, 0) << before.err;
  ASSERT_FALSE(before.out.empty());

  const std::string fifo = dir_.file("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = dir_.file("folder");
  ASSERT_TRUE(platform::create_folders(folder).ok());
  const std::string sparse = dir_.file("big.jsonl");
  {
    ASSERT_TRUE(platform::write_file_atomically(sparse, "").ok());
    std::filesystem::resize_file(sparse, 64ull * 1024 * 1024 + 1);
  }
  struct Case {
    const char* name;
    std::vector<std::string> words;
    std::optional<std::string> input;
    const char* said;
  };
  const Case cases[] = {
      // Nobody writes to the pipe: a read that waited on it would hang here.
      {"an import of a pipe", {"--import", fifo}, std::nullopt, "不是普通文件"},
      {"an import of a device", {"--import", "/dev/zero"}, std::nullopt, "不是普通文件"},
      {"an import of a folder", {"--import", folder}, std::nullopt, "不是普通文件"},
      {"an import of a file past 64 MiB", {"--import", sparse}, std::nullopt, "超过 64 MiB"},
      {"an import of standard input past 64 MiB",
       {"--import", "-"},
       std::string(64 * 1024 * 1024, '\n') + "{\"term\":\"太多\"}\n",
       "标准输入超过 64 MiB"},
      {"an export into a pipe", {"--export", fifo}, std::nullopt, "不是普通文件"},
      {"an export into a device", {"--export", "/dev/null"}, std::nullopt, "不是普通文件"},
      {"an export into a folder", {"--export", folder}, std::nullopt, "是文件夹"},
  };
  for (const auto& c : cases) {
    auto refused = gui(c.words, c.input);
    EXPECT_EQ(refused.exit_code, 1) << c.name << ": " << refused.err;
    EXPECT_FALSE(refused.timed_out) << c.name;
    EXPECT_NE(refused.err.find(c.said), std::string::npos) << c.name << ": " << refused.err;
    EXPECT_EQ(refused.out, "") << c.name;
  }
  // Each is what it was, nothing was written beside it, the store is unchanged.
  struct stat st {};
  ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  ASSERT_EQ(::lstat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_FALSE(std::filesystem::exists(fifo + ".part"));
  EXPECT_FALSE(std::filesystem::exists(folder + ".part"));
  EXPECT_EQ(gui({"--export", "-"}).out, before.out);

  // Standard input within the limit is read, JSON Lines unless said.
  auto piped = gui({"--import", "-"}, "{\"term\":\"从管道来的词\",\"fields\":{\"definition\":\"x\"}}\n");
  EXPECT_EQ(piped.exit_code, 0) << piped.err;
  EXPECT_EQ(piped.out, "导入 1 条：新增 1，更新 0，保留 0\n");
  auto tsv = gui({"--import", "-", "--format", "tsv"}, "term\tdefinition\n制表符的词\t定义\n");
  EXPECT_EQ(tsv.exit_code, 0) << tsv.err;
  // A regular file already there is replaced whole.
  ASSERT_TRUE(platform::write_file_atomically(dir_.file("out.jsonl"), "old").ok());
  auto replaced = gui({"--export", dir_.file("out.jsonl")});
  EXPECT_EQ(replaced.exit_code, 0) << replaced.err;
  const std::string after = platform::read_file(dir_.file("out.jsonl")).value_or("");
  EXPECT_NE(after.find("从管道来的词"), std::string::npos);
  EXPECT_NE(after.find("制表符的词"), std::string::npos);
}

TEST_F(ServiceProcessTest, ADeletedLockFileIsPutBackAndStillKeepsASecondInstanceOut) {
  auto [first, info] = start_serving();
  ASSERT_TRUE(platform::remove_file(lock_path()));
  // Put back within a few rounds; the limit only stops a broken build.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartLimitMs);
  while (!platform::is_regular_file(lock_path()) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(platform::is_regular_file(lock_path()));
  EXPECT_EQ(platform::file_mode(lock_path()), 0600u);

  auto second = start();
  EXPECT_EQ(second->wait_exit(kExitLimitMs), 3);
  EXPECT_TRUE(first->running());
  EXPECT_EQ(call(info, "GET", "/v1/health", nullptr)["ok"], true);
  const std::string log = log_text();
  EXPECT_NE(log.find("the lock file " + lock_path() + " was missing; put back"), std::string::npos) << log;
  EXPECT_NE(log.find("another instance holds the lock " + lock_path()), std::string::npos) << log;
}

TEST_F(ServiceProcessTest, ADamagedStoreIsReportedByHealthRefusesSavesAndStillAnswersLookups) {
  std::string old_token;
  {
    auto [process, info] = start_serving();
    old_token = info.token;
    process->signal(SIGTERM);
    ASSERT_EQ(process->wait_exit(kExitLimitMs), 0);
  }
  // No service runs now: the store is closed and whole in its file.
  auto page = test::damage_store_page(store_path(), "RAG");
  ASSERT_NE(page.number, 0) << page.problem;

  auto [process, info] = start_serving(old_token);
  JsonValue health = call(info, "GET", "/v1/health", nullptr);
  EXPECT_EQ(health["ok"], true) << health.dump();
  EXPECT_EQ(health["version"], RUVO_VERSION);
  ASSERT_TRUE(health["store"].is_object()) << health.dump();
  EXPECT_EQ(health["store"]["ok"], false);
  EXPECT_NE(health["store"]["message"].get<std::string>().find("词库文件已损坏"), std::string::npos);

  const JsonValue save = {
      {"categoryId", "term"}, {"fields", {{"定义", "d"}}}, {"lang", "zh"}, {"term", "损坏后的新词"}};
  auto exchanged = test::http_exchange(info.port, test::request_bytes("POST", "/v1/save", save.dump(), info.token));
  ASSERT_TRUE(exchanged.has_value());
  auto reply = test::split_reply(*exchanged);
  EXPECT_EQ(reply.status, 503) << *exchanged;
  auto refused = common::parse_json(reply.body);
  ASSERT_TRUE(refused.ok()) << reply.body;
  EXPECT_EQ((*refused)["ok"], false);
  EXPECT_EQ((*refused)["kind"], "store");
  EXPECT_EQ((*refused)["reason"], "store_damaged");
  EXPECT_TRUE((*refused)["message"].is_string());

  JsonValue lookup = {{"text", "RAG"}};
  EXPECT_EQ(call(info, "POST", "/v1/lookup", &lookup)["hit"], true);
  EXPECT_NE(log_text().find("the store is damaged (SQLite: "), std::string::npos) << log_text();
}

// A link put in the data folder at one of the service's files, to a file
// outside it or to nothing: the service does not start, says why in its log
// (unless the log is the link), and never touches what the link points at.
TEST_F(ServiceProcessTest, ALinkAtTheLockTheLogOrTheStoreKeepsTheServiceFromStarting) {
  struct Case {
    const char* name;
    bool logged;  // the log is there to say why
  };
  const Case cases[] = {
      {"ruvo-gui.lock", true},
      {"ruvo-gui.log", false},
      {"ruvo-terms.sqlite3", true},
      {"ruvo-terms.sqlite3-wal", true},
  };
  for (const auto& c : cases) {
    for (bool target_exists : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (target_exists ? ", link to a file" : ", dangling link"));
      TempDir appdata;
      std::string folder = appdata.file("com.corvanta.desktop");
      ASSERT_TRUE(platform::create_folders(folder));
      test::OutsideFile outside(target_exists);
      outside.link_from(folder + "/" + c.name);
      auto process = start_in(appdata);
      EXPECT_EQ(process->wait_exit(kExitLimitMs), 1);
      EXPECT_FALSE(platform::is_regular_file(folder + "/explain.json"));
      EXPECT_EQ(outside.changes(), "");
      std::string log = folder + "/ruvo-gui.log";
      if (c.logged) {
        std::string logged = platform::read_file(log).value_or("");
        EXPECT_NE(logged.find(folder + "/" + c.name + " is a symbolic link"), std::string::npos) << logged;
      } else {
        EXPECT_TRUE(platform::is_symbolic_link(log));
      }
    }
  }
}

// A run killed under a wider umask, or a folder someone opened up: the next
// start makes the folder 0700 and every file in it 0600 again.
TEST_F(ServiceProcessTest, WideModesLeftBehindAreTightenedAtStart) {
  const char* files[] = {"ruvo-gui.lock", "ruvo-gui.log", "ruvo-terms.sqlite3", "ruvo-terms.sqlite3-wal",
                         "ruvo-terms.sqlite3-shm"};
  std::string old_token;
  {
    auto [process, info] = start_serving();
    old_token = info.token;
    process->signal(SIGKILL);
    EXPECT_EQ(process->wait_exit(kExitLimitMs), 128 + SIGKILL);
  }
  for (const char* name : files) ASSERT_TRUE(platform::set_file_mode(data_folder() + "/" + name, 0666).ok()) << name;
  std::filesystem::permissions(data_folder(), std::filesystem::perms::all);
  ASSERT_EQ(platform::file_mode(data_folder()), 0777u);

  auto [process, info] = start_serving(old_token);
  EXPECT_EQ(call(info, "GET", "/v1/health", nullptr)["ok"], true);
  EXPECT_EQ(platform::file_mode(data_folder()), 0700u);
  for (const char* name : files) EXPECT_EQ(platform::file_mode(data_folder() + "/" + name), 0600u) << name;
  std::string logged = platform::read_file(data_folder() + "/ruvo-gui.log").value_or("");
  EXPECT_NE(logged.find("the data folder " + data_folder() + " was open to others; it is 0700 now"), std::string::npos)
      << logged;
}

// The data folder itself may be a link, to another disk say: only its owner
// can put one there, so it is followed, and the folder it leads to is kept
// private.
TEST_F(ServiceProcessTest, ADataFolderThatIsALinkIsFollowed) {
  TempDir elsewhere;
  std::string real = elsewhere.file("ruvo-data");
  ASSERT_TRUE(platform::create_folders(real));
  std::filesystem::permissions(real, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                         std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                         std::filesystem::perms::others_exec);
  std::filesystem::create_directory_symlink(real, data_folder());

  auto [process, info] = start_serving();
  JsonValue save = {
      {"categoryId", "term"}, {"fields", {{"定义", "链接目录里的定义"}}}, {"lang", "zh"}, {"term", "链接词"}};
  EXPECT_EQ(call(info, "POST", "/v1/save", &save)["ok"], true);
  EXPECT_TRUE(platform::is_symbolic_link(data_folder()));
  EXPECT_EQ(platform::file_mode(real), 0700u);
  EXPECT_EQ(platform::file_mode(real + "/ruvo-terms.sqlite3"), 0600u);
  EXPECT_TRUE(platform::is_regular_file(real + "/explain.json"));
}

}  // namespace
}  // namespace ruvo::desktop
