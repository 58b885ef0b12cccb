// What the running service keeps in place while it serves: the discovery
// file, without which ruvo cannot find it, and the single-instance lock
// file, without which a second instance could start beside it. Someone
// deleting either (a clean-up script, a person tidying the folder) must not
// leave the service unreachable or unguarded until it is restarted.
#pragma once

#include "platform/instance_lock.hpp"
#include "service/log.hpp"
#include "store/store.hpp"

#include <chrono>
#include <string>

namespace ruvo::desktop::service {

// How often the serving thread looks: soon enough that ruvo, which retries
// every 300 ms after starting a service, finds the file put back at its
// next try; rarely enough to cost nothing.
inline constexpr std::chrono::milliseconds kUpkeepInterval{250};

struct UpkeepSetup {
  std::string discovery_path;  // explain.json
  std::string lock_path;       // the file `lock` was taken on
  int port = 0;                // what the discovery file must name
  std::string token;
  std::string version;
};

class Upkeep {
 public:
  // `lock` is the instance lock taken on setup.lock_path; check() replaces it
  // by a fresh one when it has to. `store` may be null. All three must
  // outlive the Upkeep.
  Upkeep(UpkeepSetup setup, platform::InstanceLock& lock, Log& log, store::TermStore* store);

  // One round of checks, each logging one line when it puts something back:
  // - the lock file: when the held lock is no longer on the file at the
  //   lock path (deleted, or replaced by another file), a fresh lock is
  //   taken on that path and the old one let go;
  // - the discovery file: when it is missing, unreadable, or names another
  //   port or token, it is written again;
  // - the store: what it keeps in memory is brought up to date
  //   (TermStore::refresh: the count after another program wrote, the
  //   names for suggestions), and the first time it reports damage, one
  //   line says so.
  // A failure to put a file back is logged once (until it changes or
  // heals) and tried again next round. Returns false only when another
  // process holds the lock on the file now at the lock path: another
  // instance serves this folder, and this one must stop serving, leaving
  // the discovery file (then that instance's) alone.
  bool check();

 private:
  bool keep_lock();
  void keep_discovery_file();
  void report_store_damage();
  void refresh_store();
  // Logs `line` when it differs from the failure last logged in `last`.
  void log_failure_once(std::string& last, const std::string& line);

  UpkeepSetup setup_;
  platform::InstanceLock& lock_;
  Log& log_;
  store::TermStore* store_;
  std::string lock_failure_;
  std::string discovery_failure_;
  std::string store_failure_;
  bool store_damage_reported_ = false;
};

}  // namespace ruvo::desktop::service
