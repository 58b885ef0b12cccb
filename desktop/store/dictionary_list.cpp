// The dictionaries as the person sees and arranges them: listed in order, counted, enabled or
// disabled, moved, renamed and removed; and the facts of the store that say what was offered.
#include "common/utf8.hpp"
#include "platform/clock.hpp"
#include "store/connection_pool.hpp"
#include "store/dictionary_rows.hpp"
#include "store/entry_rules.hpp"
#include "store/latin_cache.hpp"
#include "store/rows.hpp"
#include "store/sql.hpp"
#include "store/store.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <string>
#include <vector>

namespace ruvo::desktop::store {

namespace {

Result<std::optional<Dictionary>> ready_dictionary(sqlite3* db, std::int64_t id) {
  static const std::string sql = std::string(kDictionaryColumns) + "WHERE id = ?1 AND state = 'ready'";
  Statement st(db, sql.c_str());
  if (!st.ok()) return sqlite_error(db, "prepare dictionary");
  st.bind(1, id);
  const int rc = st.step();
  if (rc == SQLITE_DONE) return std::optional<Dictionary>();
  if (rc != SQLITE_ROW) return sqlite_error(db, "dictionary");
  return std::optional<Dictionary>(dictionary_from_row(st));
}

// The most characters a dictionary's name has.
constexpr std::size_t kMaxDictionaryNameChars = 200;

}  // namespace

Dictionary dictionary_from_row(const Statement& st) {
  Dictionary d;
  d.id = st.integer(0);
  d.name = st.text(1);
  d.file_name = st.text(2);
  d.format = st.text(3);
  d.path = st.text(4);
  d.info = st.text(5);
  d.url = st.text(6);
  d.entries = st.integer(7);
  d.added_at = st.integer(8);
  d.enabled = st.integer(9) != 0;
  d.position = static_cast<int>(st.integer(10));
  return d;
}

std::string adding_lock_path(const std::string& store_path) { return store_path + "-adding.lock"; }

Result<void> renumber_dictionaries(sqlite3* db) {
  std::vector<std::int64_t> ids;
  {
    Statement order(db, "SELECT id FROM dictionaries WHERE state = 'ready' ORDER BY position, id");
    if (!order.ok()) return sqlite_error(db, "prepare order");
    int rc;
    while ((rc = order.step()) == SQLITE_ROW) ids.push_back(order.integer(0));
    if (rc != SQLITE_DONE) return sqlite_error(db, "order");
  }
  Statement place(db, "UPDATE dictionaries SET position = ?1 WHERE id = ?2");
  if (!place.ok()) return sqlite_error(db, "prepare order");
  for (std::size_t i = 0; i < ids.size(); ++i) {
    place.bind(1, static_cast<std::int64_t>(i));
    place.bind(2, ids[i]);
    if (place.step() != SQLITE_DONE) return sqlite_error(db, "order");
    place.reset();
  }
  return {};
}

Result<std::vector<Dictionary>> TermStore::dictionaries() {
  static const std::string sql = std::string(kDictionaryColumns) + "WHERE state = 'ready' ORDER BY position, id";
  auto reader = readers_->lease();
  if (!reader) return reader.error();
  Connection& db = **reader;
  return noted([&]() -> Result<std::vector<Dictionary>> {
    Statement st(db.kept(sql.c_str()));
    if (!st.ok()) return sqlite_error(db.db(), "prepare dictionaries");
    std::vector<Dictionary> out;
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) out.push_back(dictionary_from_row(st));
    if (rc != SQLITE_DONE) return sqlite_error(db.db(), "dictionaries");
    return out;
  }());
}

Result<std::optional<Dictionary>> TermStore::dictionary(std::int64_t id) {
  auto reader = readers_->lease();
  if (!reader) return reader.error();
  return noted(ready_dictionary((*reader)->db(), id));
}

Result<DictionaryCounts> TermStore::dictionary_counts() {
  auto reader = readers_->lease();
  if (!reader) return reader.error();
  Connection& db = **reader;
  return noted([&]() -> Result<DictionaryCounts> {
    Statement st(
        db.kept("SELECT COUNT(*), COALESCE(SUM(entries), 0) FROM dictionaries WHERE enabled = 1 AND state = 'ready'"));
    if (!st.ok() || st.step() != SQLITE_ROW) return sqlite_error(db.db(), "count dictionaries");
    return DictionaryCounts{st.integer(0), st.integer(1)};
  }());
}

Result<std::optional<Dictionary>> TermStore::change_dictionary(std::int64_t id, const DictionaryChange& change) {
  std::string name;
  if (change.name) {
    name = std::string(common::trim_unicode_space(*change.name));
    if (name.empty()) return common::failure(common::ErrorKind::kBadInput, "词典名称不能为空");
    if (has_line_break(name)) return common::failure(common::ErrorKind::kBadInput, "词典名称不能换行");
    if (common::first_scalars(name, kMaxDictionaryNameChars).size() < name.size()) {
      return common::failure(common::ErrorKind::kBadInput,
                             "词典名称太长（最多 " + std::to_string(kMaxDictionaryNameChars) + " 个字符）");
    }
  }
  if (damaged()) return damaged_refusal();
  auto writer = writer_->lease();
  if (!writer) return writer.error();
  sqlite3* db = (*writer)->db();
  auto changed = noted(in_transaction(db, [&]() -> Result<std::optional<Dictionary>> {
    auto found = ready_dictionary(db, id);
    if (!found || !*found) return found;
    if (change.enabled) {
      if (auto done = run_for_id(db,
                                 *change.enabled ? "UPDATE dictionaries SET enabled = 1 WHERE id = ?1"
                                                 : "UPDATE dictionaries SET enabled = 0 WHERE id = ?1",
                                 id, "dictionary");
          !done) {
        return done.error();
      }
    }
    if (change.name) {
      Statement rename(db, "UPDATE dictionaries SET name = ?1 WHERE id = ?2");
      if (!rename.ok()) return sqlite_error(db, "prepare dictionary");
      rename.bind(1, name);
      rename.bind(2, id);
      if (rename.step() != SQLITE_DONE) return sqlite_error(db, "dictionary");
    }
    if (change.position) {
      // Placed just before the one now at the place asked for (ties go to the one moved), then all
      // numbered again.
      Statement move(db, "UPDATE dictionaries SET position = ?1 WHERE id = ?2");
      if (!move.ok()) return sqlite_error(db, "prepare dictionary");
      const std::int64_t target = std::max(0, *change.position);
      const std::int64_t from = (*found)->position;
      // Moving down, it goes after the one at the target; up, before it.
      move.bind(1, target * 2 + (target > from ? 1 : -1));
      move.bind(2, id);
      if (move.step() != SQLITE_DONE) return sqlite_error(db, "dictionary");
      if (auto done =
              run_for_id(db, "UPDATE dictionaries SET position = position * 2 WHERE state = 'ready' AND id != ?1", id,
                         "dictionary");
          !done) {
        return done.error();
      }
      if (auto done = renumber_dictionaries(db); !done) return done.error();
    }
    return ready_dictionary(db, id);
  }));
  // The names suggestions offer, and those found in texts, change with it.
  if (changed && *changed) {
    latin_->drop();
    ++names_generation_;
  }
  return changed;
}

Result<std::optional<Dictionary>> TermStore::hide_dictionary(std::int64_t id) {
  if (damaged()) return damaged_refusal();
  auto writer = writer_->lease();
  if (!writer) return writer.error();
  sqlite3* db = (*writer)->db();
  auto hidden = noted(in_transaction(db, [&]() -> Result<std::optional<Dictionary>> {
    auto found = ready_dictionary(db, id);
    if (!found || !*found) return found;
    if (auto done = run_for_id(db, "UPDATE dictionaries SET state = 'removing', position = NULL WHERE id = ?1", id,
                               "remove dictionary");
        !done) {
      return done.error();
    }
    Statement remember(db,
                       "INSERT INTO removed_dictionaries (path, removed_at) VALUES (?1, ?2) "
                       "ON CONFLICT (path) DO UPDATE SET removed_at = excluded.removed_at");
    if (!remember.ok()) return sqlite_error(db, "prepare remove dictionary");
    remember.bind(1, (*found)->path);
    remember.bind(2, platform::unix_seconds());
    if (remember.step() != SQLITE_DONE) return sqlite_error(db, "remove dictionary");
    if (auto done = renumber_dictionaries(db); !done) return done.error();
    return found;
  }));
  if (!hidden || !*hidden) return hidden;
  latin_->drop();
  ++names_generation_;
  return hidden;
}

Result<std::optional<Dictionary>> TermStore::remove_dictionary(std::int64_t id) {
  auto hidden = hide_dictionary(id);
  if (!hidden || !*hidden) return hidden;
  // In batches, each taking the writer for itself alone, so that saves go on meanwhile.
  if (auto purged = noted(purge_dictionary(*writer_, id)); !purged) return purged.error();
  return hidden;
}

Result<std::vector<std::string>> TermStore::removed_dictionary_paths() {
  auto reader = readers_->lease();
  if (!reader) return reader.error();
  Connection& db = **reader;
  return noted(first_column<std::string>(db.db(), db.kept("SELECT path FROM removed_dictionaries ORDER BY path"),
                                         "removed dictionaries", [](Statement&) {}));
}

Result<bool> TermStore::system_dictionaries_pending() {
  auto reader = readers_->lease();
  if (!reader) return reader.error();
  Connection& db = **reader;
  return noted([&]() -> Result<bool> {
    auto values = first_column<std::string>(db.db(), db.kept("SELECT value FROM store_facts WHERE name = ?1"),
                                            "store facts", [](Statement& st) { st.bind(1, kSystemDictionariesFact); });
    if (!values) return values.error();
    return !values->empty() && values->front() == "pending";
  }());
}

Result<void> TermStore::mark_system_dictionaries_offered() {
  if (damaged()) return damaged_refusal();
  auto writer = writer_->lease();
  if (!writer) return writer.error();
  sqlite3* db = (*writer)->db();
  return noted(in_transaction(db, [&]() -> Result<void> {
    Statement st(db, "INSERT OR REPLACE INTO store_facts (name, value) VALUES (?1, 'done')");
    if (!st.ok()) return sqlite_error(db, "prepare store facts");
    st.bind(1, kSystemDictionariesFact);
    if (st.step() != SQLITE_DONE) return sqlite_error(db, "store facts");
    return {};
  }));
}

Result<void> name_dictionaries(Connection& reader, std::vector<TermEntry>& entries) {
  sqlite3* db = reader.db();
  Statement st(reader.kept("SELECT name FROM dictionaries WHERE id = ?1"));
  if (!st.ok()) return sqlite_error(db, "prepare dictionary name");
  for (auto& entry : entries) {
    if (entry.dictionary_id == 0) continue;
    st.bind(1, entry.dictionary_id);
    const int rc = st.step();
    if (rc == SQLITE_ROW) entry.dictionary_name = st.text(0);
    st.reset();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return sqlite_error(db, "dictionary name");
  }
  return {};
}

}  // namespace ruvo::desktop::store
