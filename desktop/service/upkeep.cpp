#include "service/upkeep.hpp"

#include "platform/platform.hpp"
#include "protocol/service_info.hpp"
#include "service/discovery_file.hpp"

#include <utility>

namespace ruvo::desktop::service {

Upkeep::Upkeep(UpkeepSetup setup, platform::InstanceLock& lock, Log& log, store::TermStore* store)
    : setup_(std::move(setup)), lock_(lock), log_(log), store_(store) {}

bool Upkeep::check() {
  // The lock first: when another instance has taken the folder over, the
  // discovery file is its business, not ours to put back.
  if (!keep_lock()) return false;
  keep_discovery_file();
  refresh_store();
  report_store_damage();
  return true;
}

void Upkeep::log_failure_once(std::string& last, const std::string& line) {
  if (line == last) return;
  log_.write(line);
  last = line;
}

bool Upkeep::keep_lock() {
  const std::string& path = setup_.lock_path;
  if (lock_.is_at(path)) {
    lock_failure_.clear();
    return true;
  }
  const bool replaced = platform::is_regular_file(path);
  auto fresh = platform::try_lock_instance(path);
  switch (fresh.outcome) {
    case platform::LockOutcome::kBusy:
      log_.write("the lock file " + path + " was replaced and another instance holds it; this one stops serving");
      return false;
    case platform::LockOutcome::kFailed:
      log_failure_once(lock_failure_, "cannot put back the lock file " + path + "; trying again");
      return true;
    case platform::LockOutcome::kAcquired:
      break;
  }
  if (!fresh.lock.is_at(path)) {
    // The path leads elsewhere (a symbolic link): a lock there would not be
    // the one a new instance tries. Keep the old one and say so once.
    log_failure_once(lock_failure_, "the lock file " + path + " is not a plain file; cannot put it back");
    return true;
  }
  lock_ = std::move(fresh.lock);  // the new lock is held before the old one is let go
  lock_failure_.clear();
  log_.write("the lock file " + path + (replaced ? " was replaced" : " was missing") + "; put back");
  return true;
}

void Upkeep::keep_discovery_file() {
  const std::string& path = setup_.discovery_path;
  const char* problem = nullptr;
  if (auto text = platform::read_file(path)) {
    auto info = protocol::parse_service_info(*text);
    if (!info) {
      problem = "unreadable";
    } else if (info->port != setup_.port || info->token != setup_.token) {
      problem = "naming another port or token";
    }
  } else {
    problem = platform::is_regular_file(path) ? "unreadable" : "missing";
  }
  if (problem == nullptr) {
    discovery_failure_.clear();
    return;
  }
  auto written = write_discovery_file(path, setup_.port, setup_.token, setup_.version);
  if (!written) {
    log_failure_once(discovery_failure_, "cannot put back the discovery file: " + written.error().text());
    return;
  }
  discovery_failure_.clear();
  log_.write("the discovery file " + path + " was " + problem + "; put back");
}

void Upkeep::refresh_store() {
  if (store_ == nullptr) return;
  if (auto refreshed = store_->refresh(); !refreshed) {
    log_failure_once(store_failure_, "cannot read the store's count or names again: " + refreshed.error().text());
  } else {
    store_failure_.clear();
  }
}

void Upkeep::report_store_damage() {
  if (store_ == nullptr || store_damage_reported_ || !store_->damaged()) return;
  store_damage_reported_ = true;
  log_.write("the store is damaged (SQLite: " + store_->damage_detail() +
             "); lookups answer where they can, saves are refused");
}

}  // namespace ruvo::desktop::service
