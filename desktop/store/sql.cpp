// SQLite's errors as the store reports them, and its one-statement runs.
#include "store/sql.hpp"

namespace ruvo::desktop::store {

Error sqlite_error(sqlite3* db, std::string_view what) {
  if (db == nullptr) return common::failure(common::ErrorKind::kStoreFailure, std::string(what) + ": out of memory");
  const char* text = sqlite3_errmsg(db);
  const bool damaged = is_damage_code(sqlite3_errcode(db) & 0xff);
  return common::failure(damaged ? common::ErrorKind::kStoreDamaged : common::ErrorKind::kStoreFailure,
                         std::string(what) + ": " + text, text);
}

Result<void> exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) return sqlite_error(db, sql);
  return {};
}

}  // namespace ruvo::desktop::store
