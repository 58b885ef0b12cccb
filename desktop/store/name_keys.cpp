// The names of the stored entries as the in-memory name index reads them,
// and the moment it must read them again.
#include "store/connection_pool.hpp"
#include "store/dictionaries.hpp"
#include "store/sql.hpp"
#include "store/store.hpp"

#include <sqlite3.h>

#include <string>

namespace ruvo::desktop::store {

namespace {

// Only the names of entries reads may use are looked for in a text: a
// dictionary switched off, or one being added or removed, is left out.
const std::string& name_keys_sql() {
  static const std::string sql = "SELECT t.term_key FROM terms t WHERE " + usable_term_sql("t") +
                                 " UNION ALL SELECT a.alias_key FROM term_aliases a JOIN terms t ON t.id = a.term_id"
                                 " WHERE " +
                                 usable_term_sql("t");
  return sql;
}

}  // namespace

Result<void> TermStore::each_name_key(const std::function<void(std::string_view key)>& each) {
  auto reader = readers_->lease();
  if (!reader) return reader.error();
  sqlite3* db = (*reader)->db();
  return noted([&]() -> Result<void> {
    // One statement is one read transaction: the names of one snapshot.
    sqlite3_stmt* names = nullptr;
    if (sqlite3_prepare_v2(db, name_keys_sql().c_str(), -1, &names, nullptr) != SQLITE_OK) {
      sqlite3_finalize(names);
      return sqlite_error(db, "prepare names");
    }
    int rc;
    while ((rc = sqlite3_step(names)) == SQLITE_ROW) {
      const auto* key = reinterpret_cast<const char*>(sqlite3_column_text(names, 0));
      each(std::string_view(key ? key : "", static_cast<std::size_t>(sqlite3_column_bytes(names, 0))));
    }
    if (rc != SQLITE_DONE) {
      Error error = sqlite_error(db, "names");
      sqlite3_finalize(names);
      return error;
    }
    sqlite3_finalize(names);
    return {};
  }());
}

}  // namespace ruvo::desktop::store
