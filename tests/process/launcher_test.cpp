// Starting the desktop program when no service answers, and `ruvo service`.
#include "common/json.hpp"
#include "support/fake_service.hpp"
#include "support/process.hpp"
#include "support/start_record.hpp"
#include "support/temp_dir.hpp"
#include "support/wait_line.hpp"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace ruvo::test;
using ruvo::common::JsonValue;

namespace {

RunResult ruvo_in(const ProgramDir& programs, const AppDataDir& appdata, const StartRecord& record,
                  std::vector<std::string> words, std::map<std::string, std::string> extra_env = {}) {
  auto env = appdata.env();
  env["FAKE_DESKTOP_RECORD"] = record.path();
  for (auto& [k, v] : extra_env) env[k] = v;
  return run({.words = std::move(words), .program = programs.ruvo(), .env = env});
}

}  // namespace

TEST(Launcher, ServiceUpStartsNothing) {
  FakeService service;
  AppDataDir appdata;
  appdata.write_discovery(service.port());
  ProgramDir programs({{"ruvo-gui.exe", fake_desktop()}});
  StartRecord record;
  const RunResult r = ruvo_in(programs, appdata, record, {"health"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(record.read().empty());
  EXPECT_EQ(service.requests().size(), 2u);
}

TEST(Launcher, StartsTheDesktopOnceWithServiceArgumentAndWebViewFolder) {
  AppDataDir appdata;  // no discovery file: no probe before the start
  ProgramDir programs({{"ruvo-gui.exe", fake_desktop()}});
  StartRecord record;
  const RunResult r = ruvo_in(programs, appdata, record, {"health"},
                              {{"WEBVIEW2_USER_DATA_FOLDER", "/inherited/value"}, {"FAKE_DESKTOP_DELAY_MS", "700"}});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "{\n  \"ok\": true,\n  \"terms\": 0,\n  \"version\": \"fake\"\n}\n");
  const auto starts = record.read();
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].argv, (std::vector<std::string>{programs.file("ruvo-gui.exe"), "--service"}));
  const std::string folder = appdata.desktop_folder() + "/wv2-service";
  EXPECT_EQ(starts[0].webview2, folder);  // overrides what the caller had
  struct stat st {};
  EXPECT_EQ(::stat(folder.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(Launcher, AStaleTokenCountsAsDown) {
  FakeService stale;
  stale.on("GET /v1/health", {Reply::json(401, R"({"ok":false})")});
  AppDataDir appdata;
  appdata.write_discovery(stale.port());
  ProgramDir programs({{"ruvo-gui.exe", fake_desktop()}});
  StartRecord record;
  const RunResult r = ruvo_in(programs, appdata, record, {"health"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(record.read().size(), 1u);
  EXPECT_EQ(stale.requests().size(), 1u);
}

TEST(Launcher, CandidateOrder) {
  struct Case {
    std::vector<std::pair<std::string, std::string>> beside;
    std::string started;
  };
  const Case cases[] = {
      {{{"ruvo-gui.exe", fake_desktop()}, {"Ruvo.exe", fake_desktop()}, {"corvanta.exe", fake_desktop()}}, "corvanta.exe"},
      {{{"ruvo-gui.exe", fake_desktop()}, {"Ruvo.exe", fake_desktop()}}, "Ruvo.exe"},
  };
  for (const auto& c : cases) {
    AppDataDir appdata;
    ProgramDir programs(c.beside);
    StartRecord record;
    const RunResult r = ruvo_in(programs, appdata, record, {"health"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const auto starts = record.read();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0].argv.at(0), programs.file(c.started));
  }

  // A folder under the first name is skipped.
  AppDataDir appdata;
  ProgramDir programs({{"Ruvo.exe", fake_desktop()}});
  ASSERT_EQ(::mkdir(programs.file("corvanta.exe").c_str(), 0755), 0);
  StartRecord record;
  EXPECT_EQ(ruvo_in(programs, appdata, record, {"health"}).exit_code, 0);
  ASSERT_EQ(record.read().size(), 1u);
  EXPECT_EQ(record.read()[0].argv.at(0), programs.file("Ruvo.exe"));
}

TEST(Launcher, AProgramThatCannotStartFailsAtOnce) {
  AppDataDir appdata;
  ProgramDir programs;
  {
    std::ofstream(programs.file("ruvo-gui.exe")) << "not a program";
  }
  ::chmod(programs.file("ruvo-gui.exe").c_str(), 0644);
  StartRecord record;
  RunResult r = ruvo_in(programs, appdata, record, {"lookup", "RAG"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Ruvo 服务没起来\n");

  r = ruvo_in(programs, appdata, record, {"service"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  if (running_under_launcher()) {
    // Windows refuses the file for its format, with a message of its own.
    EXPECT_EQ(r.err.rfind("启动失败：", 0), 0u) << r.err;
    EXPECT_EQ(r.err.back(), '\n');
  } else {
    EXPECT_EQ(r.err, "启动失败：Permission denied (os error 13)\n");
  }
}

TEST(Launcher, ServiceCommandStartsAnotherInstanceWithTheEnvironmentUnchanged) {
  FakeService running;
  AppDataDir appdata;
  appdata.write_discovery(running.port());
  ProgramDir programs({{"ruvo-gui.exe", fake_desktop()}});
  StartRecord record;
  RunResult r = ruvo_in(programs, appdata, record, {"service", "more", "words"},
                        {{"WEBVIEW2_USER_DATA_FOLDER", "/caller/value"}, {"FAKE_DESKTOP_MODE", "exit"}});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "已启动 Ruvo 无界面服务\n");
  EXPECT_EQ(running.connections(), 0u);  // no probe, no discovery file read

  r = ruvo_in(programs, appdata, record, {"service"}, {{"FAKE_DESKTOP_MODE", "exit"}});
  EXPECT_EQ(r.exit_code, 0);
  // The record is written by the started program itself; give it a moment.
  for (int i = 0; i < 100 && record.read().size() < 2; ++i) ::usleep(50000);
  const auto starts = record.read();
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0].argv, (std::vector<std::string>{programs.file("ruvo-gui.exe"), "--service"}));
  // Order of the two records follows the start order.
  std::vector<JsonValue> folders{starts[0].webview2, starts[1].webview2};
  EXPECT_NE(std::find(folders.begin(), folders.end(), JsonValue("/caller/value")), folders.end());
  EXPECT_NE(std::find(folders.begin(), folders.end(), JsonValue(nullptr)), folders.end());
  EXPECT_FALSE(::access((appdata.desktop_folder() + "/wv2-service").c_str(), F_OK) == 0);
}

TEST(Launcher, FoldersWithASpaceInTheirPath) {
  // Installed programs live under "Program Files": the path of the program
  // started and the folder given to it must arrive whole.
  AppDataDir appdata("ruvo test appdata ");
  ProgramDir programs({{"ruvo-gui.exe", fake_desktop()}}, "ruvo test programs ");
  StartRecord record;
  const RunResult r = ruvo_in(programs, appdata, record, {"health"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out, "{\n  \"ok\": true,\n  \"terms\": 0,\n  \"version\": \"fake\"\n}\n");
  const auto starts = record.read();
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].argv, (std::vector<std::string>{programs.file("ruvo-gui.exe"), "--service"}));
  EXPECT_EQ(starts[0].webview2, appdata.desktop_folder() + "/wv2-service");
}

TEST(Launcher, ServiceCommandWithNothingBeside) {
  AppDataDir appdata;
  ProgramDir programs;
  StartRecord record;
  const RunResult r = ruvo_in(programs, appdata, record, {"service"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "找不到 Ruvo 主程序\n");
}

TEST(Launcher, GivesUpAfterFortyUnhealthyAttempts) {
  // The slowest path of the launcher: 40 pauses of 300 ms.
  AppDataDir appdata;
  ProgramDir programs({{"ruvo-gui.exe", fake_desktop()}});
  StartRecord record;
  const RunResult r = ruvo_in(programs, appdata, record, {"health"}, {{"FAKE_DESKTOP_MODE", "unhealthy"}});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.err, "Ruvo 服务没起来（找不到可执行文件，或启动失败）\n");
  EXPECT_EQ(record.read().size(), 1u);
}

TEST(Launcher, HealthThroughAPipeEnds) {
  if (running_under_launcher()) GTEST_SKIP() << "runs the program directly in a /bin/sh pipeline";
  // The started program inherits our standard streams; it must not keep the
  // caller's pipe open, or `ruvo health | cat` would never end.
  AppDataDir appdata;
  ProgramDir programs({{"ruvo-gui.exe", fake_desktop()}});
  StartRecord record;
  auto env = appdata.env();
  env["FAKE_DESKTOP_RECORD"] = record.path();
  const RunResult r = run({.words = {"-c", "\"$0\" health | cat", programs.ruvo()}, .program = "/bin/sh", .env = env,
                           .timeout_seconds = 60});
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("\"ok\": true"), std::string::npos);
}

TEST(Launcher, NeverStartsItself) {
  // On Windows "Ruvo.exe" beside ruvo.exe is the same file; a link shows the
  // same situation here.
  AppDataDir appdata;
  ProgramDir programs;
  ASSERT_EQ(::link(programs.ruvo().c_str(), programs.file("Ruvo.exe").c_str()), 0);
  StartRecord record;
  RunResult r = ruvo_in(programs, appdata, record, {"health"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Ruvo 服务没起来（找不到可执行文件，或启动失败）\n");
  r = ruvo_in(programs, appdata, record, {"service"});
  EXPECT_EQ(r.err, "找不到 Ruvo 主程序\n");
}

TEST(Launcher, WaitingForAStartedServiceIsShownOnATerminalOnly) {
  if (running_under_launcher()) GTEST_SKIP() << "a pseudo-terminal is not a Windows console";
  // The started program takes 1.5 s to come up; the fake answers explain
  // with a 404 reply, whose message ruvo prints after the line is gone.
  const auto explain = [](bool terminal) {
    AppDataDir appdata;
    ProgramDir programs({{"ruvo-gui.exe", fake_desktop()}});
    StartRecord record;
    auto env = appdata.env();
    env["FAKE_DESKTOP_RECORD"] = record.path();
    env["FAKE_DESKTOP_DELAY_MS"] = "1500";
    RunResult r = run({.words = {"explain", "RAG"}, .program = programs.ruvo(), .env = env,
                       .terminal_stderr = terminal});
    EXPECT_EQ(record.read().size(), 1u);
    return r;
  };
  const RunResult piped = explain(false);
  EXPECT_EQ(piped.exit_code, 1);
  EXPECT_EQ(piped.out, "");
  EXPECT_EQ(piped.err, "not found\n");

  const RunResult shown = explain(true);
  EXPECT_EQ(shown.exit_code, 1);
  EXPECT_EQ(shown.out, "");
  const WaitLineBytes split = split_wait_line(shown.err);
  EXPECT_TRUE(split.erased) << shown.err;
  EXPECT_NE(split.shown.find("正在启动 Ruvo 服务，已等 "), std::string::npos) << shown.err;
  EXPECT_EQ(split.rest, "not found\n");
}
