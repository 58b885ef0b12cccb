// A damaged store: found by PRAGMA quick_check when it opens, or by SQLite's
// answer to any statement since, and remembered for the store's life.
#include "store/sql.hpp"
#include "store/sqlite_connection.hpp"
#include "store/store.hpp"

#include <string>

namespace ruvo::desktop::store {

namespace {

std::string one_line(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

}  // namespace

common::Error TermStore::damaged_refusal() {
  return common::failure(common::ErrorKind::kStoreDamaged, std::string(kStoreDamagedRefusal));
}

void TermStore::mark_damaged(const std::string& detail) {
  std::lock_guard<std::mutex> guard(damage_mutex_);
  if (damaged_.exchange(true)) return;  // the first sighting is the one reported
  damage_detail_ = one_line(detail.empty() ? std::string("database disk image is malformed") : detail);
}

void TermStore::quick_check(Connection& connection) {
  sqlite3* db = connection.db();
  Statement check(db, "PRAGMA quick_check");
  if (!check.ok()) {
    (void)noted(Result<void>(sqlite_error(db, "PRAGMA quick_check")));
    return;
  }
  // One row "ok" for a sound file; otherwise a row per problem found.
  int rc = check.step();
  if (rc == SQLITE_ROW && check.text(0) != "ok") {
    mark_damaged(check.text(0));
  } else if (rc != SQLITE_ROW) {
    (void)noted(Result<void>(sqlite_error(db, "PRAGMA quick_check")));
  }
}

std::string TermStore::damage_detail() {
  std::lock_guard<std::mutex> guard(damage_mutex_);
  return damage_detail_;
}

}  // namespace ruvo::desktop::store
