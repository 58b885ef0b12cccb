// SQLite's errors as the store reports them, and its one-statement runs.
#include "store/sql.hpp"

#include "store/connection_pool.hpp"

namespace ruvo::desktop::store {

Error sqlite_error(sqlite3* db, std::string_view what) {
  if (db == nullptr) return common::failure(common::ErrorKind::kStoreFailure, std::string(what) + ": out of memory");
  const char* text = sqlite3_errmsg(db);
  const int code = sqlite3_errcode(db) & 0xff;
  // Another writer held the file past the busy time-out: for people, the
  // store is busy, and SQLite's words stay out of what they read.
  if (code == SQLITE_BUSY || code == SQLITE_LOCKED) return busy_error();
  const bool damaged = is_damage_code(code);
  return common::failure(damaged ? common::ErrorKind::kStoreDamaged : common::ErrorKind::kStoreFailure,
                         std::string(what) + ": " + text, text);
}

Result<void> exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) return sqlite_error(db, sql);
  return {};
}

}  // namespace ruvo::desktop::store
