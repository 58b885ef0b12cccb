#include "service.hpp"

#include "common/paths.hpp"
#include "discovery_file.hpp"
#include "glossary.hpp"
#include "http_server.hpp"
#include "log.hpp"
#include "model.hpp"
#include "model_config.hpp"
#include "platform/platform.hpp"
#include "routes.hpp"
#include "store.hpp"
#include "system.hpp"
#include "token.hpp"

#include <atomic>
#include <chrono>
#include <thread>

namespace ruvo::desktop {

namespace {

constexpr std::string_view kVersion = RUVO_VERSION;

std::vector<TermDraft> starter_glossary(Log& log) {
  auto parsed = parse_glossary(embedded_glossary());
  if (auto* message = std::get_if<std::string>(&parsed)) {
    log.write("starter glossary unusable, starting empty: " + *message);
    return {};
  }
  return std::move(std::get<std::vector<TermDraft>>(parsed));
}

// Serves until a stop signal; the store, lock and log are already open.
int serve(TermStore& store, Log& log, const std::string& discovery_path, const ModelSetup& model) {
  // Before the first thread: every thread the server starts inherits the
  // blocked mask, so only the wait below ever takes these signals.
  block_stop_signals();

  ServiceContext ctx{store, std::string(), std::string(kVersion), ExplainModel(), model_status(model)};
  if (model.config) ctx.model = make_chat_model(*model.config, log);
  HttpService http(ctx, log);
  int port = http.bind();
  if (port <= 0) {
    log.write("cannot listen on 127.0.0.1");
    return 1;
  }
  auto token = make_token();
  if (!token) {
    log.write("no random bytes for a token");
    return 1;
  }
  ctx.token = *token;

  std::atomic<bool> ended{false};
  http.start([&ended] {
    ended = true;
    request_stop();  // serving ended on its own: wake the wait below
  });
  // The discovery file names a service that answers.
  while (!http.running() && !ended) std::this_thread::sleep_for(std::chrono::milliseconds(1));

  int code = 0;
  if (auto error = write_discovery_file(discovery_path, port, ctx.token, kVersion)) {
    log.write("cannot write the discovery file: " + *error);
    code = 1;
  } else {
    log.write("serving on 127.0.0.1:" + std::to_string(port));
    int signal_number = wait_for_stop_signal();
    log.write(ended ? std::string("server loop ended on its own") : "stopping on signal " + std::to_string(signal_number));
    if (ended) code = 1;
  }
  http.stop();
  remove_own_discovery_file(discovery_path, ctx.token);
  return code;
}

}  // namespace

int run_service() {
  switch (detach_from_caller()) {
    case Detach::kDone:
      break;
    case Detach::kParentExits:
      return 0;
    case Detach::kFailed:
      return 1;
  }

  auto folder = common::desktop_data_folder();
  if (!folder || !platform::create_folders(*folder)) return 1;
  auto lock = try_lock_instance(common::join_path(*folder, kLockFileName));
  if (lock.outcome == LockOutcome::kBusy) return 0;  // the running instance serves; touch nothing
  if (lock.outcome != LockOutcome::kAcquired) return 1;

  Log log(common::join_path(*folder, kLogFileName));
  const std::string who = "ruvo-gui " + std::string(kVersion);
  const std::string pid = std::to_string(current_pid());
  log.write(who + " starting, pid " + pid);
  log.set_rotation_heading(who + " running, pid " + pid + " (earlier lines are in " + std::string(kLogFileName) + ".1)");

  std::string store_path = common::join_path(*folder, kStoreFileName);
  auto opened = TermStore::open(store_path, starter_glossary(log));
  if (auto* error = std::get_if<StoreError>(&opened)) {
    log.write("cannot open the store: " + error->message);
    return 1;
  }
  auto& store = *std::get<std::unique_ptr<TermStore>>(opened);
  auto terms = store.count();
  log.write("store " + store_path + " holds " +
            (std::holds_alternative<std::int64_t>(terms) ? std::to_string(std::get<std::int64_t>(terms)) : "?") +
            " terms");

  ModelSetup model = load_model_setup(*folder, log);
  int code = serve(store, log, common::join_path(*folder, common::kDiscoveryFileName), model);
  log.write(code == 0 ? "stopped" : "stopped after a failure");
  return code;
}

}  // namespace ruvo::desktop
