// The local service under load and faults: several `ruvo save` processes
// at once and wrk on /v1/lookup while the service is killed outright and
// started again, round after round. Whatever ruvo confirmed as saved is in
// the store afterwards, the store is sound after every kill, and the service
// answers again. Requests it must refuse get their JSON errors and change
// nothing.
#include "common/json.hpp"
#include "stress/store_check.hpp"
#include "support/local_service.hpp"
#include "support/process.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <mutex>
#include <regex>
#include <thread>
#include <vector>

namespace ruvo::stress {
namespace {

using common::JsonValue;
using test::RunResult;

constexpr int kRounds = 3;
constexpr int kSavers = 4;
constexpr int kAcksBeforeKill = 12;     // confirmed saves of a round before its kill
constexpr int kAttemptsWhileDown = 4;   // saves tried against the dead service
constexpr int kAcksAfterRestart = 8;    // confirmed saves after the restart
constexpr int kLoadSeconds = 3;         // each wrk run

// Conditions here normally hold within seconds; this only ends a broken run.
bool wait_until(const std::function<bool()>& condition, std::chrono::seconds patience = std::chrono::seconds(120)) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

struct SaveRecord {
  std::string term;
  std::string definition;
  bool acknowledged = false;
  std::string failure;  // the error line of a save that was not confirmed
};

// kSavers loops of `ruvo save`, each a process of its own, until stopped.
class Savers {
 public:
  Savers(std::string program, std::map<std::string, std::string> env, int round)
      : program_(std::move(program)), env_(std::move(env)), round_(round) {
    for (int k = 0; k < kSavers; ++k) threads_.emplace_back([this, k] { loop(k); });
  }
  ~Savers() { stop(); }

  void stop() {
    stopping_ = true;
    for (auto& thread : threads_) {
      if (thread.joinable()) thread.join();
    }
  }
  int attempts() const { return attempts_; }
  int acknowledged() const { return acknowledged_; }
  std::vector<SaveRecord> records() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return records_;
  }

 private:
  void loop(int saver) {
    for (int n = 0; !stopping_; ++n) {
      SaveRecord record;
      record.term = "压测-r" + std::to_string(round_) + "-s" + std::to_string(saver) + "-" + std::to_string(n);
      record.definition = "第" + std::to_string(round_) + "轮第" + std::to_string(n) + "条";
      const std::string fields = common::to_compact(JsonValue{{"定义", record.definition}});
      const RunResult r = test::run({.words = {"save", "--term", record.term, "--fields", fields},
                                     .program = program_,
                                     .env = env_,
                                     .timeout_seconds = 120});
      const std::string confirmed = "已存入 Ruvo：" + record.term + "（id ";
      record.acknowledged = r.exit_code == 0 && r.out.rfind(confirmed, 0) == 0 && r.out.ends_with("）\n");
      record.failure = r.err;
      std::lock_guard<std::mutex> guard(mutex_);
      records_.push_back(record);
      ++attempts_;
      if (record.acknowledged) ++acknowledged_;
    }
  }

  std::string program_;
  std::map<std::string, std::string> env_;
  int round_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> attempts_{0};
  std::atomic<int> acknowledged_{0};
  mutable std::mutex mutex_;
  std::vector<SaveRecord> records_;
  std::vector<std::thread> threads_;
};

struct LoadFigures {
  long requests = -1;
  long socket_errors = 0;
  long non_2xx = 0;
};

// wrk on POST /v1/lookup with the token, for kLoadSeconds.
LoadFigures run_wrk(const test::TempDir& folder, const protocol::ServiceInfo& info) {
  const std::string script = folder.file("lookup.lua");
  std::ofstream(script) << "wrk.method = \"POST\"\n"
                        << "wrk.body = '{\"text\":\"RAG\"}'\n"
                        << "wrk.headers[\"Content-Type\"] = \"application/json\"\n"
                        << "wrk.headers[\"X-Ruvo-Token\"] = \"" << info.token << "\"\n";
  const RunResult r = test::run({.words = {"-t1", "-c4", "-d" + std::to_string(kLoadSeconds) + "s", "-s", script,
                                           "http://127.0.0.1:" + std::to_string(info.port) + "/v1/lookup"},
                                 .program = "wrk",
                                 .timeout_seconds = 120});
  LoadFigures figures;
  std::smatch m;
  if (std::regex_search(r.out, m, std::regex(R"((\d+) requests in)"))) figures.requests = std::stol(m[1]);
  if (std::regex_search(r.out, m, std::regex(R"(Socket errors: connect (\d+), read (\d+), write (\d+), timeout (\d+))"))) {
    for (int i = 1; i <= 4; ++i) figures.socket_errors += std::stol(m[i]);
  }
  if (std::regex_search(r.out, m, std::regex(R"(Non-2xx or 3xx responses: (\d+))"))) figures.non_2xx = std::stol(m[1]);
  // On a loaded machine the kill can come before wrk has made its first
  // connection; it then reports the refusal instead of a count. That is no
  // request served, not a missing tool.
  if (figures.requests < 0 && (r.out + r.err).find("unable to connect") != std::string::npos) figures.requests = 0;
  if (figures.requests < 0) ADD_FAILURE() << "wrk did not run (is the wrk package installed?): " << r.out << r.err;
  return figures;
}

// The tool results of one `ruvo mcp` session that looks every term up.
std::vector<JsonValue> look_up_all(const std::string& program, const std::map<std::string, std::string>& env,
                                   const std::vector<std::string>& terms) {
  std::string input;
  for (std::size_t i = 0; i < terms.size(); ++i) {
    input += common::to_compact(JsonValue{{"id", i},
                                          {"method", "tools/call"},
                                          {"params", {{"name", "ruvo_lookup"}, {"arguments", {{"text", terms[i]}}}}}}) +
             "\n";
  }
  const RunResult r = test::run({.words = {"mcp"}, .program = program, .env = env, .stdin_bytes = input});
  std::vector<JsonValue> results;
  std::size_t start = 0;
  while (start < r.out.size()) {
    const std::size_t end = r.out.find('\n', start);
    auto line = common::parse_json(std::string_view(r.out).substr(start, end - start));
    const auto text =
        line ? line->value(JsonValue::json_pointer("/result/content/0/text"), std::string()) : "";
    auto result = common::parse_json(text);
    results.push_back(result ? *result : JsonValue(nullptr));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return results;
}

// The "definition" of stored fields (JSON text), or "" when there is none.
std::string definition_of(const std::string& fields) {
  const auto parsed = common::parse_json(fields);
  if (!parsed || !parsed->is_object()) return "";
  const auto found = parsed->find("definition");
  return found != parsed->end() && found->is_string() ? found->get<std::string>() : "";
}

TEST(LocalServiceStress, KilledAndRestartedUnderLoadLosesNoConfirmedSave) {
  test::AppDataDir app_data;
  test::ProgramDir programs;  // ruvo alone: it never starts a service of its own here
  test::TempDir scratch;
  test::LocalService service(app_data.path());
  ASSERT_TRUE(service.start()) << service.problem();

  std::vector<SaveRecord> all;
  for (int round = 1; round <= kRounds; ++round) {
    Savers savers(programs.ruvo(), app_data.env(), round);
    LoadFigures before_kill;
    std::jthread load([&] { before_kill = run_wrk(scratch, service.info()); });
    ASSERT_TRUE(wait_until([&] { return savers.acknowledged() >= kAcksBeforeKill; })) << "round " << round;
    service.kill_now();
    const int attempts_at_kill = savers.attempts();
    EXPECT_TRUE(wait_until([&] { return savers.attempts() >= attempts_at_kill + kAttemptsWhileDown; }));
    load.join();

    // Killed mid-write, the store must still open cleanly.
    const StoreCheck after_kill = inspect_store(service.store_path());
    EXPECT_EQ(after_kill.error, "") << "round " << round;
    EXPECT_EQ(after_kill.integrity, "ok") << "round " << round;

    ASSERT_TRUE(service.start()) << service.problem();
    const int acks_at_restart = savers.acknowledged();
    EXPECT_TRUE(wait_until([&] { return savers.acknowledged() >= acks_at_restart + kAcksAfterRestart; }))
        << "no save was confirmed after the restart in round " << round;
    const LoadFigures after_restart = run_wrk(scratch, service.info());
    savers.stop();

    const RunResult health = test::run({.words = {"health"}, .program = programs.ruvo(), .env = app_data.env()});
    EXPECT_EQ(health.exit_code, 0) << health.err;

    const auto records = savers.records();
    int acknowledged = 0;
    for (const auto& record : records) acknowledged += record.acknowledged;
    std::printf("[ figures  ] round %d: %zu saves attempted, %d acknowledged; wrk %ld requests (%ld socket errors, "
                "%ld non-2xx) before the kill, %ld (%ld, %ld) after the restart\n",
                round, records.size(), acknowledged, before_kill.requests, before_kill.socket_errors,
                before_kill.non_2xx, after_restart.requests, after_restart.socket_errors, after_restart.non_2xx);
    all.insert(all.end(), records.begin(), records.end());
  }

  // Through the service: every confirmed save is found, with its field.
  std::vector<std::string> confirmed;
  std::vector<std::string> definitions;
  for (const auto& record : all) {
    if (!record.acknowledged) continue;
    confirmed.push_back(record.term);
    definitions.push_back(record.definition);
  }
  const auto looked_up = look_up_all(programs.ruvo(), app_data.env(), confirmed);
  ASSERT_EQ(looked_up.size(), confirmed.size());
  int found_by_lookup = 0;
  for (std::size_t i = 0; i < confirmed.size(); ++i) {
    const JsonValue& reply = looked_up[i];
    const bool hit = reply.is_object() && reply.value("hit", false) && reply.value("definition", "") == definitions[i];
    found_by_lookup += hit;
    EXPECT_TRUE(hit) << confirmed[i] << ": " << reply;
  }

  // And in the file, after one more kill.
  service.kill_now();
  const StoreCheck store = inspect_store(service.store_path());
  EXPECT_EQ(store.error, "");
  EXPECT_EQ(store.integrity, "ok");
  int acknowledged = 0;
  int found = 0;
  int unconfirmed_but_stored = 0;
  std::map<std::string, int> failures;
  for (const auto& record : all) {
    const auto stored = store.fields.find(record.term);
    const bool in_store = stored != store.fields.end() && definition_of(stored->second) == record.definition;
    if (record.acknowledged) {
      ++acknowledged;
      found += in_store;
      EXPECT_TRUE(in_store) << record.term << " was confirmed but is not stored as saved";
    } else {
      unconfirmed_but_stored += in_store;
      std::string failure = record.failure.substr(0, record.failure.find('\n'));
      ++failures[failure.substr(0, failure.find(" (os error"))];
    }
  }
  std::printf("[ figures  ] %d rounds: %zu saves attempted, %d acknowledged, %d of them found in the store "
              "(%d by lookup); %d unconfirmed saves were stored all the same\n",
              kRounds, all.size(), acknowledged, found, found_by_lookup, unconfirmed_but_stored);
  for (const auto& [failure, count] : failures) std::printf("[ figures  ]   %d x %s\n", count, failure.c_str());
  ASSERT_TRUE(service.start()) << service.problem();
  EXPECT_EQ(service.stop(), 0);
}

}  // namespace
}  // namespace ruvo::stress
