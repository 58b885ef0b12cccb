// What the term store's source files share: SQLite statements, errors and
// transactions, and the helpers that read and write an entry's rows and its
// place in the search index. Only the store's own files include this.
#pragma once

#include "common/json.hpp"
#include "common/result.hpp"
#include "store/store.hpp"

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop {

namespace store_sql {

using common::Error;

// The last failure sqlite_error reported on this thread: SQLite's primary
// result code and text. Every failure of a statement passes through
// sqlite_error at once, before a rollback could replace the connection's
// own error, so a store method (which runs on one thread, under the store's
// mutex) can tell afterwards whether its statements met a damaged file.
struct LastFailure {
  int code = SQLITE_OK;
  std::string text;
};
inline thread_local LastFailure last_failure;

inline Error sqlite_error(sqlite3* db, std::string_view what) {
  last_failure = db ? LastFailure{sqlite3_errcode(db) & 0xff, sqlite3_errmsg(db)} : LastFailure{SQLITE_NOMEM, {}};
  return common::failure(std::string(what) + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

// One prepared statement, finalized when it goes out of scope; or a kept
// one, lent for one use and reset (bindings cleared) when it is given back.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
  }
  explicit Statement(sqlite3_stmt* kept) : stmt_(kept), owned_(false) {}
  ~Statement() {
    if (owned_) {
      sqlite3_finalize(stmt_);
    } else if (stmt_ != nullptr) {
      sqlite3_reset(stmt_);
      sqlite3_clear_bindings(stmt_);
    }
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  void bind(int index, std::string_view text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  }
  void bind(int index, std::int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  // Ready to run again, with new bindings.
  void reset() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int step() { return sqlite3_step(stmt_); }
  std::string text(int column) const {
    auto* data = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    return data ? std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
  }
  std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  bool owned_ = true;
};

inline Result<void> exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) return sqlite_error(db, sql);
  return {};
}

// Runs `work` in a transaction of its own, committed when it succeeds and
// rolled back when it fails.
template <typename Work>
auto in_transaction(sqlite3* db, Work work) -> decltype(work()) {
  if (auto begun = exec(db, "BEGIN IMMEDIATE"); !begun) return begun.error();
  auto result = work();
  if (!result) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return result;
  }
  if (auto committed = exec(db, "COMMIT"); !committed) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return committed.error();
  }
  return result;
}

// The codes by which SQLite says the file itself is damaged, as opposed to
// busy, full or unreadable for now.
inline bool is_damage_code(int code) { return code == SQLITE_CORRUPT || code == SQLITE_NOTADB; }

// Stored fields as an object of non-blank strings; a damaged value reads as
// no fields rather than failing the request.
JsonValue read_fields(const std::string& text);

// Stored aliases as a list of strings; a damaged value reads as none.
std::vector<std::string> read_aliases(const std::string& text);

// The columns entry_from_row reads, in its order.
inline constexpr const char* kSelectColumns =
    "SELECT id, term, lang, category_id, fields, source, aliases, updated_at FROM terms ";

TermEntry entry_from_row(const Statement& st);

// What the search index holds of a JSON array or object (aliases, fields):
// its string values one after another, as index_text gives them; the names
// of the fields are not searched. The view the index reads computes the
// same through the SQL function ruvo_index_values.
std::string index_values(const JsonValue& values);

// Runs one statement whose only parameter is an entry's id.
Result<void> run_for_id(sqlite3* db, const char* sql, std::int64_t id, std::string_view what);

// The search index's entry of a row, taken out before the row changes and
// put in again after.
Result<void> unindex_row(sqlite3* db, std::int64_t id);
Result<void> index_row(sqlite3* db, std::int64_t id);

// Replaces the entry's aliases, column and keys, inside a transaction the
// caller has begun.
Result<void> write_aliases(sqlite3* db, std::int64_t id, const std::vector<std::string>& aliases);

// A saved name is no longer missing.
Result<void> forget_misses(sqlite3* db, const TermEntry& entry);

}  // namespace store_sql

class TermStore::DamageWatch {
 public:
  explicit DamageWatch(TermStore& store) : store_(store) { store_sql::last_failure = store_sql::LastFailure{}; }
  ~DamageWatch() {
    if (store_sql::is_damage_code(store_sql::last_failure.code)) store_.mark_damaged(store_sql::last_failure.text);
  }
  DamageWatch(const DamageWatch&) = delete;
  DamageWatch& operator=(const DamageWatch&) = delete;

 private:
  TermStore& store_;
};

}  // namespace ruvo::desktop
