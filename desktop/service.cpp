#include "service.hpp"

#include "discovery_file.hpp"
#include "http/http_server.hpp"
#include "http/routes.hpp"
#include "http/token.hpp"
#include "log.hpp"
#include "model/model.hpp"
#include "model/model_config.hpp"
#include "model/model_http.hpp"
#include "platform/daemon.hpp"
#include "platform/files.hpp"
#include "platform/instance_lock.hpp"
#include "platform/platform.hpp"
#include "protocol/service_info.hpp"
#include "protocol/version.hpp"
#include "store/glossary.hpp"
#include "store/store.hpp"
#include "upkeep.hpp"

#include <limits>
#include <optional>
#include <string>

namespace ruvo::desktop {

using namespace store;

namespace {

using protocol::kVersion;

std::vector<TermDraft> starter_glossary(Log& log) {
  auto parsed = parse_glossary(embedded_glossary());
  if (!parsed) {
    log.write("starter glossary unusable, starting empty: " + parsed.error().text());
    return {};
  }
  return std::move(parsed).value();
}


// Serves until a stop signal, or until another instance holds the lock;
// the store, lock and log are already open.
int serve(TermStore& store, Log& log, const std::string& discovery_path, const ModelSetup& model,
          platform::InstanceLock& lock, const std::string& lock_path) {
  // Before the first thread: every thread the server starts inherits the
  // blocked mask, so only the wait below ever takes these signals.
  platform::block_stop_signals();
  // The model client's library is set up once for the process, before the
  // explanation workers that use it exist.
  if (model.config && !init_model_http()) log.write("cannot set up the HTTP client library: model calls will fail");

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

  if (!http.start()) {
    log.write("cannot start serving on 127.0.0.1:" + std::to_string(port));
    return 1;
  }

  int code = 0;
  if (auto written = write_discovery_file(discovery_path, port, ctx.token, kVersion); !written) {
    log.write("cannot write the discovery file: " + written.error().text());
    code = 1;
  } else {
    log.write("serving on 127.0.0.1:" + std::to_string(port) + ", at most " +
              std::to_string(http.max_connections()) + " connections");
    Upkeep upkeep(UpkeepSetup{discovery_path, lock_path, port, ctx.token, std::string(kVersion)}, lock, log, &store);
    int signal_number = 0;
    while (signal_number == 0) {
      if (!upkeep.check()) {
        code = kExitAnotherInstance;
        break;
      }
      signal_number = platform::wait_for_stop_signal_for(kUpkeepInterval);
    }
    if (signal_number != 0) log.write("stopping on signal " + std::to_string(signal_number));
  }
  http.stop();
  remove_own_discovery_file(discovery_path, ctx.token);
  return code;
}

}  // namespace

std::optional<std::string> data_folder() {
  auto base = platform::app_data_folder();
  if (!base) return std::nullopt;
  return platform::join_path(*base, protocol::kDataFolderName);
}

int run_service() {
  switch (platform::detach_from_caller()) {
    case platform::Detach::kDone:
      break;
    case platform::Detach::kParentExits:
      return 0;
    case platform::Detach::kFailed:
      return 1;
  }

  auto folder = data_folder();
  if (!folder || !platform::create_folders(*folder)) return 1;
  const std::string lock_path = platform::join_path(*folder, kLockFileName);
  auto lock = platform::try_lock_instance(lock_path);
  const std::string who = "ruvo-gui " + std::string(kVersion);
  const std::string pid = std::to_string(platform::current_pid());
  if (lock.outcome == platform::LockOutcome::kBusy) {
    // The running instance serves; touch nothing but one line of its log,
    // never rotating it from here (the file is the other instance's).
    Log busy_log(platform::join_path(*folder, kLogFileName), std::numeric_limits<std::uint64_t>::max());
    if (busy_log.open()) {
      busy_log.write("another instance holds the lock " + lock_path + "; pid " + pid + " exits with code " +
                     std::to_string(kExitAnotherInstance));
    }
    return kExitAnotherInstance;
  }
  Log log(platform::join_path(*folder, kLogFileName));
  if (lock.outcome != platform::LockOutcome::kAcquired) {
    if (log.open()) log.write(who + ", pid " + pid + ", not starting: " + lock.error.text());
    return 1;
  }
  // Before anything else is made in it. The folder itself may be a link
  // (to another disk, say): only its owner can put one there, so it is
  // followed, and the folder it leads to is what becomes private. Links at
  // the files inside are refused one by one.
  auto private_folder = platform::make_private_folder(*folder);
  // A log that cannot be opened (a link there, say) leaves nowhere to say
  // why; the exit code alone tells.
  if (!log.open()) return 1;
  log.write(who + " starting, pid " + pid);
  log.set_rotation_heading(who + " running, pid " + pid + " (earlier lines are in " + std::string(kLogFileName) + ".1)");
  if (!private_folder) {
    log.write("cannot make the data folder private: " + private_folder.error().text());
    return 1;
  }
  if (*private_folder) log.write("the data folder " + *folder + " was open to others; it is 0700 now");

  std::string store_path = platform::join_path(*folder, kStoreFileName);
  auto opened = TermStore::open(store_path, starter_glossary(log));
  if (!opened) {
    log.write("cannot open the store: " + opened.error().text());
    return 1;
  }
  auto& store = **opened;
  auto terms = store.count();
  log.write("store " + store_path + " holds " + (terms ? std::to_string(*terms) : "?") + " terms");

  ModelSetup model = load_model_setup(*folder, log);
  int code = serve(store, log, platform::join_path(*folder, protocol::kDiscoveryFileName), model, lock.lock, lock_path);
  log.write(code == 0                      ? "stopped"
            : code == kExitAnotherInstance ? "stopped: another instance serves this folder"
                                           : "stopped after a failure");
  return code;
}

}  // namespace ruvo::desktop
