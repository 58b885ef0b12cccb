// What the term store's source files share of SQLite: prepared statements,
// errors that say whether the file is damaged, and transactions. Only the
// store's own files include this.
#pragma once

#include "common/result.hpp"

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace ruvo::desktop::store {

using common::Error;
using common::Result;

// The codes by which SQLite says the file itself is damaged, as opposed to
// busy, full or unreadable for now.
inline bool is_damage_code(int code) { return code == SQLITE_CORRUPT || code == SQLITE_NOTADB; }

// The error of the connection's last failed call: "what: SQLite's text", of
// the kind kStoreDamaged when SQLite's code says the file is damaged (its
// text then the reason, which the store keeps), busy_error() when another
// connection held the file past the busy time-out, else kStoreFailure. Made
// at once after the failure, before a rollback could replace the
// connection's own error.
Error sqlite_error(sqlite3* db, std::string_view what);

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

// Runs a statement to its end, `bind` having set its parameters, and gives
// its first column, one value per row (std::int64_t or std::string). A
// statement that could not be prepared (null) fails as "prepare <what>", a
// failed step as `what`.
template <typename T, typename Bind>
Result<std::vector<T>> first_column(sqlite3* db, sqlite3_stmt* prepared, std::string_view what, Bind&& bind) {
  Statement st(prepared);
  if (!st.ok()) return sqlite_error(db, "prepare " + std::string(what));
  bind(st);
  std::vector<T> out;
  int rc;
  while ((rc = st.step()) == SQLITE_ROW) {
    if constexpr (std::is_same_v<T, std::string>) {
      out.push_back(st.text(0));
    } else {
      out.push_back(st.integer(0));
    }
  }
  if (rc != SQLITE_DONE) return sqlite_error(db, what);
  return out;
}

Result<void> exec(sqlite3* db, const char* sql);

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

}  // namespace ruvo::desktop::store
