// `ruvo health` against a running service.
#include "support/fake_service.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

using namespace ruvo::test;

namespace {

// A program folder with nothing beside ruvo: a dead service stays dead.
RunResult health_with(const AppDataDir& appdata, const ProgramDir& programs) {
  return run({.words = {"health", "extra", "--json"}, .program = programs.ruvo(), .env = appdata.env()});
}

}  // namespace

TEST(Health, ProbesThenAsksAgainAndPrintsThePrettyReply) {
  FakeService service;
  service.on("GET /v1/health",
             {Reply::json(200, R"({"ok":true,"version":"0.1.8"})"),
              Reply::json(200, R"({"version":"2.0","terms":3,"note":"多行\n文本","nested":{"a":[]},"ok":false})")});
  AppDataDir appdata;
  appdata.write_discovery(service.port());
  ProgramDir programs;

  const RunResult r = health_with(appdata, programs);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  // Whatever the second reply holds is printed, keys sorted, Chinese as text.
  EXPECT_EQ(r.out,
            "{\n  \"nested\": {\n    \"a\": []\n  },\n  \"note\": \"多行\\n文本\",\n  \"ok\": false,\n"
            "  \"terms\": 3,\n  \"version\": \"2.0\"\n}\n");
  const auto requests = service.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].raw, request_bytes("GET", "/v1/health"));
  EXPECT_EQ(requests[1].raw, request_bytes("GET", "/v1/health"));
}

TEST(Health, TheSmallestHealthyReplyPrintsPretty) {
  FakeService service;
  service.on("GET /v1/health", {Reply::json(200, R"({"version":"0.1.8","ok":true})")});
  AppDataDir appdata;
  appdata.write_discovery(service.port());
  ProgramDir programs;
  const RunResult r = health_with(appdata, programs);
  EXPECT_EQ(r.out, "{\n  \"ok\": true,\n  \"version\": \"0.1.8\"\n}\n");
}

TEST(Health, NoServiceAndNothingToStart) {
  AppDataDir appdata;  // no discovery file
  ProgramDir programs;
  const RunResult r = health_with(appdata, programs);
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "Ruvo 服务没起来（找不到可执行文件，或启动失败）\n");
}

TEST(Health, UnusableDiscoveryFilesCountAsNoService) {
  FakeService service;
  const std::string token(kTestToken);
  const std::string port = std::to_string(service.port());
  const std::string files[] = {
      "{\"port\":" + port + ".0,\"token\":\"" + token + "\"}",
      "{\"port\":\"" + port + "\",\"token\":\"" + token + "\"}",
      "{\"port\":" + port + ",\"token\":\"short\"}",
      "\xEF\xBB\xBF{\"port\":" + port + ",\"token\":\"" + token + "\"}",
      "{\"port\":" + port + ",\"token\":\"" + token + "\"} {}",
      "not json at all",
      std::string(200, '['),
  };
  for (const auto& text : files) {
    AppDataDir appdata;
    appdata.write_discovery(text);
    ProgramDir programs;
    const RunResult r = health_with(appdata, programs);
    EXPECT_EQ(r.exit_code, 1) << text;
    EXPECT_FALSE(r.killed_by_signal);
  }
  EXPECT_EQ(service.connections(), 0u);
}
