// The dictionaries as the person sees and arranges them: listed in order, counted, enabled or
// disabled, moved, renamed and removed; and the facts of the store that say what was offered.
#include "common/utf8.hpp"
#include "platform/clock.hpp"
#include "store/dictionary_rows.hpp"
#include "store/entry_rules.hpp"
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

std::string TermStore::file_path() {
  const char* name = sqlite3_db_filename(db_, "main");
  return name ? name : "";
}

Result<std::vector<Dictionary>> TermStore::dictionaries() {
  std::lock_guard<std::mutex> guard(mutex_);
  static const std::string sql = std::string(kDictionaryColumns) + "WHERE state = 'ready' ORDER BY position, id";
  return noted([&]() -> Result<std::vector<Dictionary>> {
    Statement st(kept_statement(sql.c_str()));
    if (!st.ok()) return sqlite_error(db_, "prepare dictionaries");
    std::vector<Dictionary> out;
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) out.push_back(dictionary_from_row(st));
    if (rc != SQLITE_DONE) return sqlite_error(db_, "dictionaries");
    return out;
  }());
}

Result<std::optional<Dictionary>> TermStore::dictionary(std::int64_t id) {
  std::lock_guard<std::mutex> guard(mutex_);
  return noted(ready_dictionary(db_, id));
}

Result<DictionaryCounts> TermStore::dictionary_counts() {
  std::lock_guard<std::mutex> guard(mutex_);
  return noted([&]() -> Result<DictionaryCounts> {
    Statement st(kept_statement(
        "SELECT COUNT(*), COALESCE(SUM(entries), 0) FROM dictionaries WHERE enabled = 1 AND state = 'ready'"));
    if (!st.ok() || st.step() != SQLITE_ROW) return sqlite_error(db_, "count dictionaries");
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
  std::lock_guard<std::mutex> guard(mutex_);
  if (damaged()) return damaged_refusal();
  auto changed = noted(in_transaction(db_, [&]() -> Result<std::optional<Dictionary>> {
    auto found = ready_dictionary(db_, id);
    if (!found || !*found) return found;
    if (change.enabled) {
      if (auto done = run_for_id(db_,
                                 *change.enabled ? "UPDATE dictionaries SET enabled = 1 WHERE id = ?1"
                                                 : "UPDATE dictionaries SET enabled = 0 WHERE id = ?1",
                                 id, "dictionary");
          !done) {
        return done.error();
      }
    }
    if (change.name) {
      Statement rename(db_, "UPDATE dictionaries SET name = ?1 WHERE id = ?2");
      if (!rename.ok()) return sqlite_error(db_, "prepare dictionary");
      rename.bind(1, name);
      rename.bind(2, id);
      if (rename.step() != SQLITE_DONE) return sqlite_error(db_, "dictionary");
    }
    if (change.position) {
      // Placed just before the one now at the place asked for (ties go to the one moved), then all
      // numbered again.
      Statement move(db_, "UPDATE dictionaries SET position = ?1 WHERE id = ?2");
      if (!move.ok()) return sqlite_error(db_, "prepare dictionary");
      const std::int64_t target = std::max(0, *change.position);
      const std::int64_t from = (*found)->position;
      // Moving down, it goes after the one at the target; up, before it.
      move.bind(1, target * 2 + (target > from ? 1 : -1));
      move.bind(2, id);
      if (move.step() != SQLITE_DONE) return sqlite_error(db_, "dictionary");
      if (auto done =
              run_for_id(db_, "UPDATE dictionaries SET position = position * 2 WHERE state = 'ready' AND id != ?1", id,
                         "dictionary");
          !done) {
        return done.error();
      }
      if (auto done = renumber_dictionaries(db_); !done) return done.error();
    }
    return ready_dictionary(db_, id);
  }));
  if (changed && *changed) latin_.reset();  // the names suggestions offer change with it
  return changed;
}

Result<std::optional<Dictionary>> TermStore::hide_dictionary(std::int64_t id) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (damaged()) return damaged_refusal();
  auto hidden = noted(in_transaction(db_, [&]() -> Result<std::optional<Dictionary>> {
    auto found = ready_dictionary(db_, id);
    if (!found || !*found) return found;
    if (auto done = run_for_id(db_, "UPDATE dictionaries SET state = 'removing', position = NULL WHERE id = ?1", id,
                               "remove dictionary");
        !done) {
      return done.error();
    }
    Statement remember(db_,
                       "INSERT INTO removed_dictionaries (path, removed_at) VALUES (?1, ?2) "
                       "ON CONFLICT (path) DO UPDATE SET removed_at = excluded.removed_at");
    if (!remember.ok()) return sqlite_error(db_, "prepare remove dictionary");
    remember.bind(1, (*found)->path);
    remember.bind(2, platform::unix_seconds());
    if (remember.step() != SQLITE_DONE) return sqlite_error(db_, "remove dictionary");
    if (auto done = renumber_dictionaries(db_); !done) return done.error();
    return found;
  }));
  if (!hidden || !*hidden) return hidden;
  latin_.reset();
  return hidden;
}

Result<std::optional<Dictionary>> TermStore::remove_dictionary(std::int64_t id) {
  auto hidden = hide_dictionary(id);
  if (!hidden || !*hidden) return hidden;
  // The batches on a connection of their own, so that this one answers meanwhile.
  auto other = open_another();
  if (!other) return other.error();
  if (auto purged = purge_dictionary((*other)->db_, id); !purged) return purged.error();
  return hidden;
}

Result<std::vector<std::string>> TermStore::removed_dictionary_paths() {
  std::lock_guard<std::mutex> guard(mutex_);
  return noted(first_column<std::string>(db_, kept_statement("SELECT path FROM removed_dictionaries ORDER BY path"),
                                         "removed dictionaries", [](Statement&) {}));
}

Result<bool> TermStore::system_dictionaries_pending() {
  std::lock_guard<std::mutex> guard(mutex_);
  return noted([&]() -> Result<bool> {
    auto values = first_column<std::string>(db_, kept_statement("SELECT value FROM store_facts WHERE name = ?1"),
                                            "store facts", [](Statement& st) { st.bind(1, kSystemDictionariesFact); });
    if (!values) return values.error();
    return !values->empty() && values->front() == "pending";
  }());
}

Result<void> TermStore::mark_system_dictionaries_offered() {
  std::lock_guard<std::mutex> guard(mutex_);
  if (damaged()) return damaged_refusal();
  return noted(in_transaction(db_, [&]() -> Result<void> {
    Statement st(db_, "INSERT OR REPLACE INTO store_facts (name, value) VALUES (?1, 'done')");
    if (!st.ok()) return sqlite_error(db_, "prepare store facts");
    st.bind(1, kSystemDictionariesFact);
    if (st.step() != SQLITE_DONE) return sqlite_error(db_, "store facts");
    return {};
  }));
}

Result<void> TermStore::name_dictionaries(std::vector<TermEntry>& entries) {
  Statement st(kept_statement("SELECT name FROM dictionaries WHERE id = ?1"));
  if (!st.ok()) return sqlite_error(db_, "prepare dictionary name");
  for (auto& entry : entries) {
    if (entry.dictionary_id == 0) continue;
    st.bind(1, entry.dictionary_id);
    const int rc = st.step();
    if (rc == SQLITE_ROW) entry.dictionary_name = st.text(0);
    st.reset();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return sqlite_error(db_, "dictionary name");
  }
  return {};
}

}  // namespace ruvo::desktop::store
