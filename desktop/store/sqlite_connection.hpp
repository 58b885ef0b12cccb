// One SQLite connection of the store: the handle, set up as every connection
// of ours is, the statements it keeps prepared, and the time budget its
// queries are held to. Only the store's own files include this.
#pragma once

#include "common/result.hpp"

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace ruvo::desktop::store {

using Clock = std::chrono::steady_clock;

// What a connection is for. The writer is the one connection that changes
// the file; readers are lent to one request at a time and can change
// nothing (PRAGMA query_only), so no read ever takes a write lock.
enum class Role { kWriter, kReader };

class Connection {
 public:
  // Opens the store file at its resolved `path` (the writer creates it when
  // missing) with SQLite's busy time-out `busy`, the search index's SQL
  // functions, WAL and synchronous=FULL. A reader also gets the index's list
  // of words (temp.terms_vocab) and is then made query-only.
  static common::Result<std::unique_ptr<Connection>> open(const std::string& path, Role role,
                                                          std::chrono::milliseconds busy);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  sqlite3* db() const { return db_; }

  // The prepared statement for `sql`, kept for the connection's life: the
  // reads run on every request, and preparing them each time cost more than
  // running them. Null when it cannot be prepared.
  sqlite3_stmt* kept(const char* sql);

  // Holds every statement to a deadline: past it SQLite's progress handler
  // interrupts what runs (the statement fails with SQLITE_INTERRUPT).
  void set_deadline(Clock::time_point deadline);
  void clear_deadline();
  // True once the deadline set has passed (on the clock, whether or not a
  // statement was interrupted).
  bool ran_out() const;

 private:
  explicit Connection(sqlite3* db) : db_(db) {}
  static int on_progress(void* self);

  sqlite3* db_ = nullptr;
  std::map<std::string, sqlite3_stmt*, std::less<>> kept_;
  std::optional<Clock::time_point> deadline_;
};

// A deadline on a connection for as long as it lives: a search's or a
// suggestion's time budget.
class Budget {
 public:
  Budget(Connection& connection, std::chrono::milliseconds budget)
      : connection_(connection), deadline_(Clock::now() + budget) {
    connection_.set_deadline(deadline_);
  }
  ~Budget() { connection_.clear_deadline(); }
  Budget(const Budget&) = delete;
  Budget& operator=(const Budget&) = delete;

  Clock::time_point deadline() const { return deadline_; }
  bool ran_out() const { return Clock::now() >= deadline_; }
  // Lets the statements run to their end from here on (reading the entries
  // a search has listed), the deadline still telling ran_out().
  void lift() { connection_.clear_deadline(); }

 private:
  Connection& connection_;
  Clock::time_point deadline_;
};

}  // namespace ruvo::desktop::store
