#include "service/service.hpp"

#include "answers/context.hpp"
#include "answers/dictionaries.hpp"
#include "answers/model_in_use.hpp"
#include "http/handlers.hpp"
#include "http/http_server.hpp"
#include "http/token.hpp"
#include "platform/daemon.hpp"
#include "platform/files.hpp"
#include "platform/instance_lock.hpp"
#include "platform/platform.hpp"
#include "protocol/service_info.hpp"
#include "protocol/version.hpp"
#include "service/discovery_file.hpp"
#include "service/log.hpp"
#include "service/upkeep.hpp"
#include "store/glossary.hpp"
#include "store/name_index.hpp"
#include "store/store.hpp"

#include <limits>
#include <thread>
#include <string>
#include <utility>

namespace ruvo::desktop::service {

namespace {

using protocol::kVersion;

std::vector<store::TermDraft> starter_glossary(Log& log) {
  auto parsed = store::parse_glossary(store::embedded_glossary());
  if (!parsed) {
    log.write("starter glossary unusable, starting empty: " + parsed.error().text());
    return {};
  }
  return std::move(parsed).value();
}

// Serves until a stop signal, or until another instance holds the lock;
// the store, lock and log are already open.
int serve(store::TermStore& store, Log& log, const std::string& folder, answers::Models& models,
          platform::InstanceLock& lock, const std::string& lock_path) {
  const std::string discovery_path = platform::join_path(folder, protocol::kDiscoveryFileName);
  // Before the first thread: every thread the server starts inherits the
  // blocked mask, so only the wait below ever takes these signals.
  platform::block_stop_signals();

  store::NameIndex names(store, [&log](std::string_view line) { log.write(line); });
  answers::Context answers{store, std::string(kVersion), models, names};
  http::HandlerContext ctx{answers, std::string(), platform::join_path(folder, kImportFileName)};
  http::HttpService http(ctx, [&log](std::string_view line) { log.write(line); });
  auto port = http.bind();
  if (!port) {
    log.write("cannot listen on 127.0.0.1: " + port.error().text());
    return 1;
  }
  auto token = http::make_token();
  if (!token) {
    log.write("no random bytes for a token");
    return 1;
  }
  ctx.token = *token;

  if (auto started = http.start(); !started) {
    log.write("cannot start serving on 127.0.0.1:" + std::to_string(*port) + ": " + started.error().text());
    return 1;
  }

  int code = 0;
  if (auto written = write_discovery_file(discovery_path, *port, ctx.token, kVersion); !written) {
    log.write("cannot write the discovery file: " + written.error().text());
    code = 1;
  } else {
    log.write("serving on 127.0.0.1:" + std::to_string(*port) + ", at most " + std::to_string(http.max_connections()) +
              " connections");
    // Each round also looks for a changed model.json and for another
    // connection's writes to the store, so both are in effect by the next
    // request.
    Upkeep upkeep(UpkeepSetup{discovery_path, lock_path, *port, ctx.token, std::string(kVersion),
                              [&models, &names] {
                                models.reload_if_changed();
                                names.refresh();
                              }},
                  lock, log, &store);
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

int run_service(const common::Result<std::string>& data_folder) {
  switch (platform::detach_from_caller()) {
    case platform::Detach::kDone:
      break;
    case platform::Detach::kParentExits:
      return 0;
    case platform::Detach::kFailed:
      return 1;
  }

  // With no folder there is no log either: the exit code alone tells.
  if (!data_folder || !platform::create_folders(*data_folder)) return 1;
  const std::string& folder = *data_folder;
  const std::string lock_path = platform::join_path(folder, kLockFileName);
  auto lock = platform::try_lock_instance(lock_path);
  const std::string who = "ruvo-gui " + std::string(kVersion);
  const std::string pid = std::to_string(platform::current_pid());
  if (lock.outcome == platform::LockOutcome::kBusy) {
    // The running instance serves; touch nothing but one line of its log,
    // never rotating it from here (the file is the other instance's).
    Log busy_log(platform::join_path(folder, kLogFileName), std::numeric_limits<std::uint64_t>::max());
    if (busy_log.open()) {
      busy_log.write("another instance holds the lock " + lock_path + "; pid " + pid + " exits with code " +
                     std::to_string(kExitAnotherInstance));
    }
    return kExitAnotherInstance;
  }
  Log log(platform::join_path(folder, kLogFileName));
  if (lock.outcome != platform::LockOutcome::kAcquired) {
    if (log.open()) log.write(who + ", pid " + pid + ", not starting: " + lock.error.text());
    return 1;
  }
  // Before anything else is made in it. The folder itself may be a link
  // (to another disk, say): only its owner can put one there, so it is
  // followed, and the folder it leads to is what becomes private. Links at
  // the files inside are refused one by one.
  auto private_folder = platform::make_private_folder(folder);
  // A log that cannot be opened (a link there, say) leaves nowhere to say
  // why; the exit code alone tells.
  if (!log.open()) return 1;
  log.write(who + " starting, pid " + pid);
  log.set_rotation_heading(who + " running, pid " + pid + " (earlier lines are in " + std::string(kLogFileName) +
                           ".1)");
  if (!private_folder) {
    log.write("cannot make the data folder private: " + private_folder.error().text());
    return 1;
  }
  if (*private_folder) log.write("the data folder " + folder + " was open to others; it is 0700 now");

  std::string store_path = platform::join_path(folder, store::kStoreFileName);
  auto opened = store::TermStore::open(store_path, starter_glossary(log));
  if (!opened) {
    log.write("cannot open the store: " + opened.error().text());
    return 1;
  }
  auto& store = **opened;
  const std::int64_t terms = store.known_count();
  log.write("store " + store_path + " holds " + (terms >= 0 ? std::to_string(terms) : "?") + " terms");
  // An import cut off by the end of an earlier run left its body behind.
  const std::string import_file = platform::join_path(folder, kImportFileName);
  if (platform::file_size(import_file)) {
    if (auto removed = platform::remove_file(import_file)) {
      log.write("removed " + import_file + ", left by an import an earlier run did not finish");
    } else {
      log.write("cannot remove " + import_file + ": " + removed.error().text());
    }
  }

  // Before any thread starts: it sets the HTTP client library up.
  answers::Models models(folder, [&log](std::string_view line) { log.write(line); });
  models.reload();

  // A store made just now takes the dictionaries found on this system, in the background: the
  // service answers at once, and each dictionary is seen whole once it is added.
  std::thread system_dictionaries;
  // A thread takes the signal mask of the one that starts it: this one must
  // not take a stop signal, whose default action would end the service
  // before it closes its store.
  platform::block_stop_signals();
  auto pending = store.system_dictionaries_pending();
  if (pending && *pending) {
    system_dictionaries = std::thread([&store, &log] {
      auto outcome = answers::add_system_dictionaries(store);
      if (!outcome) {
        log.write("cannot add this system's dictionaries: " + outcome.error().text());
        return;
      }
      for (const auto& d : outcome->added) {
        log.write("added the dictionary " + d.name + " (" + std::to_string(d.entries) + " entries) from " + d.path);
      }
      for (const auto& f : outcome->failed) log.write("cannot add the dictionary " + f.path + ": " + f.error.text());
    });
  }

  int code = serve(store, log, folder, models, lock.lock, lock_path);
  // An add under way is finished (or fails) before the store closes.
  if (system_dictionaries.joinable()) system_dictionaries.join();
  log.write(code == 0                      ? "stopped"
            : code == kExitAnotherInstance ? "stopped: another instance serves this folder"
                                           : "stopped after a failure");
  return code;
}

}  // namespace ruvo::desktop::service
