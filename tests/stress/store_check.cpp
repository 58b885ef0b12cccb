#include "stress/store_check.hpp"

#include <sqlite3.h>

namespace ruvo::stress {

StoreCheck inspect_store(const std::string& path) {
  StoreCheck check;
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
    check.error = "open: " + std::string(db ? sqlite3_errmsg(db) : "out of memory");
    sqlite3_close(db);
    return check;
  }
  sqlite3_busy_timeout(db, 10000);
  auto query = [&](const char* sql, auto&& row) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
      check.error += std::string(sql) + ": " + sqlite3_errmsg(db) + "; ";
      return;
    }
    int rc;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) row(stmt);
    if (rc != SQLITE_DONE) check.error += std::string(sql) + ": " + sqlite3_errmsg(db) + "; ";
    sqlite3_finalize(stmt);
  };
  auto text = [](sqlite3_stmt* stmt, int column) {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt, column));
    return data ? std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(stmt, column))) : std::string();
  };
  query("PRAGMA integrity_check", [&](sqlite3_stmt* stmt) { check.integrity += text(stmt, 0); });
  query("SELECT term, fields FROM terms", [&](sqlite3_stmt* stmt) { check.fields[text(stmt, 0)] = text(stmt, 1); });
  sqlite3_close(db);
  return check;
}

}  // namespace ruvo::stress
