// Opening a connection as every connection of the store is set up, its kept
// statements, and the progress handler that holds it to a deadline.
#include "store/sqlite_connection.hpp"

#include "store/rows.hpp"
#include "store/sql.hpp"

#include <sqlite3.h>

namespace ruvo::desktop::store {

namespace {

// Virtual-machine steps between two looks at the clock: a few microseconds
// of work, so a budget is kept to well within a millisecond.
constexpr int kStepsBetweenLooks = 1000;

}  // namespace

Result<std::unique_ptr<Connection>> Connection::open(const std::string& path, Role role,
                                                     std::chrono::milliseconds busy) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | (role == Role::kWriter ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK) {
    Error error = sqlite_error(db, "open " + path);
    sqlite3_close(db);
    return error;
  }
  std::unique_ptr<Connection> connection(new Connection(db));
  sqlite3_busy_timeout(db, static_cast<int>(busy.count()));
  if (auto registered = register_index_functions(db); !registered) return registered.error();
  if (role == Role::kWriter) {
    Statement wal(db, "PRAGMA journal_mode = WAL");
    if (!wal.ok() || wal.step() != SQLITE_ROW || wal.text(0) != "wal") {
      return sqlite_error(db, "PRAGMA journal_mode = WAL");
    }
  }
  // Only the writer commits, but every connection agrees on what a commit
  // costs, whichever ends up checkpointing.
  if (auto done = exec(db, "PRAGMA synchronous = FULL"); !done) return done.error();
  if (role == Role::kReader) {
    // The index's own list of its words, which a search reads to spell a
    // prefix out; a table of this connection alone, made before the
    // connection may change nothing.
    if (auto made =
            exec(db, "CREATE VIRTUAL TABLE IF NOT EXISTS temp.terms_vocab USING fts5vocab(main, terms_fts, row)");
        !made) {
      return made.error();
    }
    if (auto done = exec(db, "PRAGMA query_only = 1"); !done) return done.error();
  }
  return connection;
}

Connection::~Connection() {
  for (auto& [sql, stmt] : kept_) sqlite3_finalize(stmt);
  sqlite3_close(db_);
}

sqlite3_stmt* Connection::kept(const char* sql) {
  auto at = kept_.find(std::string_view(sql));
  if (at != kept_.end()) return at->second;
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt);
    return nullptr;
  }
  kept_.emplace(sql, stmt);
  return stmt;
}

int Connection::on_progress(void* self) {
  const auto* connection = static_cast<const Connection*>(self);
  return connection->ran_out() ? 1 : 0;
}

void Connection::set_deadline(Clock::time_point deadline) {
  deadline_ = deadline;
  sqlite3_progress_handler(db_, kStepsBetweenLooks, on_progress, this);
}

void Connection::clear_deadline() {
  sqlite3_progress_handler(db_, 0, nullptr, nullptr);
  deadline_.reset();
}

bool Connection::ran_out() const { return deadline_ && Clock::now() >= *deadline_; }

}  // namespace ruvo::desktop::store
