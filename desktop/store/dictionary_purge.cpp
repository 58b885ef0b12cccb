// Deleting a dictionary's entries, a batch at a time so that no transaction holds the writer for
// long: each entry's names leave the index of dictionary names, its aliases and glosses go, then
// the entry; the dictionary's row goes last.
#include "store/dictionary_rows.hpp"
#include "store/match_key.hpp"
#include "store/rows.hpp"
#include "store/store.hpp"

#include <string>
#include <vector>

namespace ruvo::desktop::store {

namespace {

struct Row {
  std::int64_t id;
  std::string term, aliases;
};

// One batch: false when there was nothing left to delete.
Result<bool> purge_batch(Writer& writer, std::int64_t dictionary, bool glossed) {
  auto lease = writer.lease_within(kBatchWriterWait);
  if (!lease) return lease.error();
  sqlite3* db = (*lease)->db();
  return in_transaction(db, [&]() -> Result<bool> {
    std::vector<Row> rows;
    {
      // In the order of their ids: one dictionary's entries were written by one add, so a batch is a
      // range of ids that holds no other dictionary's entry.
      Statement some(
          db, "SELECT id, term, aliases FROM terms WHERE dictionary_id = ?1 ORDER BY dictionary_id, id LIMIT ?2");
      if (!some.ok()) return sqlite_error(db, "prepare remove dictionary");
      some.bind(1, dictionary);
      some.bind(2, static_cast<std::int64_t>(kDictionaryBatch));
      int rc;
      while ((rc = some.step()) == SQLITE_ROW) {
        rows.push_back(Row{some.integer(0), some.text(1), some.text(2)});
      }
      if (rc != SQLITE_DONE) return sqlite_error(db, "remove dictionary");
    }
    if (rows.empty()) return false;
    Statement unindex(db,
                      "INSERT INTO dictionary_names_fts (dictionary_names_fts, rowid, term, aliases) "
                      "VALUES ('delete', ?1, ?2, ?3)");
    Statement aliases(db, "DELETE FROM term_aliases WHERE term_id = ?1");
    // Only the entries of a bilingual dictionary have glosses, and only dictionary entries do.
    Statement gloss(db, "DELETE FROM glosses WHERE term_id BETWEEN ?1 AND ?2");
    Statement entry(db, "DELETE FROM terms WHERE id = ?1");
    if (!unindex.ok() || !aliases.ok() || !gloss.ok() || !entry.ok())
      return sqlite_error(db, "prepare remove dictionary");
    auto run = [db](Statement& st) -> Result<void> {
      const int rc = st.step();
      st.reset();
      if (rc != SQLITE_DONE) return sqlite_error(db, "remove dictionary");
      return {};
    };
    if (glossed) {
      gloss.bind(1, rows.front().id);
      gloss.bind(2, rows.back().id);
      if (auto done = run(gloss); !done) return done.error();
    }
    for (const auto& row : rows) {
      unindex.bind(1, row.id);
      unindex.bind(2, index_text(row.term));
      auto parsed = common::parse_json(row.aliases);
      unindex.bind(3, parsed ? index_values(*parsed) : std::string());
      if (auto done = run(unindex); !done) return done.error();
      aliases.bind(1, row.id);
      if (auto done = run(aliases); !done) return done.error();
      entry.bind(1, row.id);
      if (auto done = run(entry); !done) return done.error();
    }
    return true;
  });
}

}  // namespace

Result<void> purge_dictionary(Writer& writer, std::int64_t id) {
  // Only a bilingual dictionary's entries have glosses; one whose row is gone may have had them.
  bool glossed = true;
  {
    auto lease = writer.lease_within(kBatchWriterWait);
    if (!lease) return lease.error();
    sqlite3* db = (*lease)->db();
    Statement format(db, "SELECT format FROM dictionaries WHERE id = ?1");
    if (!format.ok()) return sqlite_error(db, "prepare remove dictionary");
    format.bind(1, id);
    const int rc = format.step();
    if (rc == SQLITE_ROW) glossed = format.text(0) == "cedict";
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return sqlite_error(db, "remove dictionary");
  }
  for (;;) {
    auto more = purge_batch(writer, id, glossed);
    if (!more) return more.error();
    if (!*more) break;
  }
  auto lease = writer.lease_within(kBatchWriterWait);
  if (!lease) return lease.error();
  sqlite3* db = (*lease)->db();
  return in_transaction(db, [&]() -> Result<void> {
    return run_for_id(db, "DELETE FROM dictionaries WHERE id = ?1", id, "remove dictionary");
  });
}

}  // namespace ruvo::desktop::store
