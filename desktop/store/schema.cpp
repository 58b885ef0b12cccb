// The store's schema and its migrations.
#include "store/schema.hpp"

#include "store/rows.hpp"
#include "store/sql.hpp"

#include <iterator>
#include <map>
#include <set>
#include <string>
#include <utility>

namespace ruvo::desktop::store {

namespace {

// Schema steps, applied in order to bring a store from version to - 1 up to
// version to. A later change adds a row here and raises kStoreSchemaVersion.
struct Migration {
  int to_version;
  const char* sql;
};

constexpr Migration kMigrations[] = {
    {1,
     "CREATE TABLE terms ("
     " id INTEGER PRIMARY KEY,"
     " term TEXT NOT NULL,"
     " term_key TEXT NOT NULL,"
     " lang TEXT NOT NULL,"
     " category_id TEXT NOT NULL,"
     " fields TEXT NOT NULL,"
     " created_at INTEGER NOT NULL,"
     " updated_at INTEGER NOT NULL,"
     " UNIQUE (term_key, lang));"},
    // Who wrote each entry, so a remembered model answer is told apart from
    // what a person saved.
    {2, "ALTER TABLE terms ADD COLUMN source TEXT NOT NULL DEFAULT 'user';"},
    // Other names of an entry, found by their keys; the texts looked up in
    // vain; and the order of the most recently updated. The term keys are
    // then made anew in C++ (rekey_terms): they fold more than they did.
    {3,
     "ALTER TABLE terms ADD COLUMN aliases TEXT NOT NULL DEFAULT '[]';"
     "CREATE TABLE term_aliases (alias_key TEXT NOT NULL, term_id INTEGER NOT NULL,"
     " PRIMARY KEY (alias_key, term_id)) WITHOUT ROWID;"
     "CREATE INDEX term_aliases_by_term ON term_aliases (term_id);"
     "CREATE TABLE misses (text_key TEXT PRIMARY KEY, text TEXT NOT NULL, count INTEGER NOT NULL,"
     " last_at INTEGER NOT NULL);"
     "CREATE INDEX terms_by_update ON terms (updated_at DESC, id DESC);"},
    // Search over terms, aliases and field text. The index reads each
    // entry through a view that hands it the text as match keys with every
    // Chinese character a word of its own (ruvo_index_text, registered on
    // every connection), so a search for 检索 finds 检索增强生成 whatever
    // the length of either, and holds no copy of the text.
    {4,
     "CREATE VIEW term_search (id, term, aliases, body) AS SELECT id, ruvo_index_text(term),"
     " ruvo_index_values(aliases), ruvo_index_values(fields) FROM terms;"
     "CREATE VIRTUAL TABLE terms_fts USING fts5(term, aliases, body, content='term_search', content_rowid='id');"
     "INSERT INTO terms_fts (terms_fts) VALUES ('rebuild');"},
    // The names alone, in an index of their own: a search lists the entries
    // a word names before those it only describes, and a column filter on
    // the whole index would read every entry holding the word to find them.
    {5,
     "CREATE VIRTUAL TABLE names_fts USING fts5(term, aliases, content='term_search', content_rowid='id');"
     "INSERT INTO names_fts (names_fts) VALUES ('rebuild');"},
    // Dictionaries as named sources. Their entries live in `terms` beside the person's, with the
    // dictionary's id and the article packed (packed.hpp); a headword in five dictionaries is five
    // entries, so (key, lang) is unique only among the entries that are no dictionary's, and there
    // per source: a person's entry and the glossary's may stand side by side. The table is made
    // anew for that (SQLite cannot drop a constraint), every id kept, so both indexes stay as they
    // are; ids are never used twice from now on. Dictionary names have an index of their own, and
    // their article text none: it is found by name. The glosses link a bilingual dictionary's
    // entries to names in other languages. store_facts says whether the system's dictionaries were
    // offered to this store yet: a new one gets them, an older one only lists them.
    {6,
     "DROP VIEW term_search;"
     "CREATE TABLE dictionaries (id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT NOT NULL, file_name TEXT NOT NULL,"
     " format TEXT NOT NULL, path TEXT NOT NULL, info TEXT NOT NULL, url TEXT NOT NULL,"
     " entries INTEGER NOT NULL DEFAULT 0, added_at INTEGER NOT NULL, enabled INTEGER NOT NULL DEFAULT 1,"
     " position INTEGER, state TEXT NOT NULL DEFAULT 'adding');"
     "CREATE TABLE removed_dictionaries (path TEXT PRIMARY KEY, removed_at INTEGER NOT NULL) WITHOUT ROWID;"
     "CREATE TABLE store_facts (name TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;"
     "CREATE TABLE terms_6 ("
     " id INTEGER PRIMARY KEY AUTOINCREMENT,"
     " term TEXT NOT NULL,"
     " term_key TEXT NOT NULL,"
     " lang TEXT NOT NULL,"
     " category_id TEXT NOT NULL,"
     " fields TEXT NOT NULL,"
     " created_at INTEGER NOT NULL,"
     " updated_at INTEGER NOT NULL,"
     " source TEXT NOT NULL DEFAULT 'user',"
     " aliases TEXT NOT NULL DEFAULT '[]',"
     " dictionary_id INTEGER,"
     " packed BLOB);"
     "INSERT INTO terms_6 (id, term, term_key, lang, category_id, fields, created_at, updated_at, source, aliases)"
     " SELECT id, term, term_key, lang, category_id, fields, created_at, updated_at, source, aliases FROM terms;"
     "DROP TABLE terms;"
     "ALTER TABLE terms_6 RENAME TO terms;"
     "CREATE UNIQUE INDEX terms_own_key ON terms (term_key, lang, source) WHERE dictionary_id IS NULL;"
     "CREATE INDEX terms_by_key ON terms (term_key, dictionary_id);"
     "CREATE INDEX terms_by_update ON terms (updated_at DESC, id DESC) WHERE dictionary_id IS NULL;"
     "CREATE INDEX terms_by_dictionary ON terms (dictionary_id) WHERE dictionary_id IS NOT NULL;"
     "CREATE VIEW term_search (id, term, aliases, body) AS SELECT id, ruvo_index_text(term),"
     " ruvo_index_values(aliases), ruvo_index_values(fields) FROM terms WHERE dictionary_id IS NULL;"
     "CREATE VIEW dictionary_term_search (id, term, aliases) AS SELECT id, ruvo_index_text(term),"
     " ruvo_index_values(aliases) FROM terms WHERE dictionary_id IS NOT NULL;"
     "CREATE VIRTUAL TABLE dictionary_names_fts USING fts5(term, aliases, content='dictionary_term_search',"
     " content_rowid='id');"
     "CREATE TABLE glosses (gloss_key TEXT NOT NULL, term_id INTEGER NOT NULL, PRIMARY KEY (gloss_key, term_id))"
     " WITHOUT ROWID;"},
};
static_assert(std::size(kMigrations) == kStoreSchemaVersion);

// Gives every entry the key of today's match_key, inside the migration's
// transaction. Entries whose keys now coincide in one language ("ＲＡＧ" and
// "RAG" saved apart before) become one: the one updated last keeps its
// spelling and wins field by field, the fields only the other had stay, the
// other's spelling becomes an alias, and the earlier id and creation time
// survive. Nothing stored is dropped.
Result<void> rekey_terms(sqlite3* db) {
  struct Row {
    std::int64_t id;
    std::string term, lang, fields, aliases, source;
    std::int64_t created_at, updated_at;
  };
  std::vector<Row> rows;
  {
    Statement all(db,
                  "SELECT id, term, lang, fields, aliases, source, created_at, updated_at FROM terms "
                  "ORDER BY updated_at, id");
    if (!all.ok()) return sqlite_error(db, "prepare rekey");
    int rc;
    while ((rc = all.step()) == SQLITE_ROW) {
      rows.push_back(Row{all.integer(0), all.text(1), all.text(2), all.text(3), all.text(4), all.text(5),
                         all.integer(6), all.integer(7)});
    }
    if (rc != SQLITE_DONE) return sqlite_error(db, "rekey");
  }
  // Keys unique for the moment, so no new key meets an old one on its way.
  if (auto done = exec(db, "UPDATE terms SET term_key = char(1) || id"); !done) return done;

  struct Kept {
    std::size_t row;
    JsonValue fields;
    std::vector<std::string> aliases;
  };
  std::map<std::pair<std::string, std::string>, Kept> kept;
  std::vector<std::int64_t> merged_away;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    auto [at, fresh] =
        kept.try_emplace({term_key(row.term), row.lang}, Kept{i, read_fields(row.fields), read_aliases(row.aliases)});
    if (fresh) continue;
    // `row` is the later one: it wins.
    Kept& first = at->second;
    const Row& earlier = rows[first.row];
    first.fields = merge_fields(std::move(first.fields), read_fields(row.fields));
    std::vector<std::string> aliases = read_aliases(row.aliases);
    for (const auto& alias : first.aliases) aliases.push_back(alias);
    aliases.push_back(earlier.term);
    first.aliases = std::move(aliases);
    merged_away.push_back(row.id);
    rows[first.row].term = row.term;
    rows[first.row].source = row.source;
    rows[first.row].updated_at = row.updated_at;
  }
  for (std::int64_t id : merged_away) {
    if (auto dropped = run_for_id(db, "DELETE FROM terms WHERE id = ?1", id, "rekey"); !dropped) return dropped;
  }
  for (auto& [key, entry] : kept) {
    const Row& row = rows[entry.row];
    Statement update(db,
                     "UPDATE terms SET term_key = ?1, term = ?2, fields = ?3, source = ?4, updated_at = ?5 "
                     "WHERE id = ?6");
    if (!update.ok()) return sqlite_error(db, "prepare rekey");
    update.bind(1, key.first);
    update.bind(2, row.term);
    update.bind(3, common::to_compact(entry.fields));
    update.bind(4, row.source);
    update.bind(5, row.updated_at);
    update.bind(6, row.id);
    if (update.step() != SQLITE_DONE) return sqlite_error(db, "rekey");
    // Aliases that now fold to the term itself, or to each other, go.
    std::vector<std::string> aliases;
    std::set<std::string> keys{key.first};
    for (const auto& alias : entry.aliases) {
      if (keys.insert(term_key(alias)).second) aliases.push_back(alias);
    }
    if (auto written = write_aliases(db, row.id, aliases); !written) return written;
  }
  return {};
}

// The starter glossary's aliases for the glossary entries of an older store
// that have none yet: what a new store is seeded with, given to old ones.
Result<void> add_glossary_aliases(sqlite3* db, const std::vector<TermDraft>& seed) {
  for (const auto& draft : seed) {
    if (!draft.aliases || draft.aliases->empty()) continue;
    Statement find(db, "SELECT id FROM terms WHERE term_key = ?1 AND lang = ?2 AND source = ?3 AND aliases = '[]'");
    if (!find.ok()) return sqlite_error(db, "prepare glossary aliases");
    find.bind(1, term_key(draft.term));
    find.bind(2, draft.lang);
    find.bind(3, kSourceGlossary);
    int rc = find.step();
    if (rc == SQLITE_DONE) continue;
    if (rc != SQLITE_ROW) return sqlite_error(db, "glossary aliases");
    if (auto written = write_aliases(db, find.integer(0), *draft.aliases); !written) return written;
  }
  return {};
}

}  // namespace

Result<int> schema_version(sqlite3* db) {
  Statement st(db, "PRAGMA user_version");
  if (!st.ok() || st.step() != SQLITE_ROW) return sqlite_error(db, "PRAGMA user_version");
  return static_cast<int>(st.integer(0));
}

Result<void> migrate(sqlite3* db, const std::vector<TermDraft>& seed) {
  if (auto begun = exec(db, "BEGIN IMMEDIATE"); !begun) return begun;
  auto fail = [db](const Error& error) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    return Result<void>(error);
  };
  auto version = schema_version(db);
  if (!version) return fail(version.error());
  int from = *version;
  for (const auto& step : kMigrations) {
    if (step.to_version <= from) continue;
    if (auto done = exec(db, step.sql); !done) return fail(done.error());
  }
  if (from > 0 && from < 3) {
    if (auto done = rekey_terms(db); !done) return fail(done.error());
    if (auto done = add_glossary_aliases(db, seed); !done) return fail(done.error());
  }
  if (from > 0 && from < 3) {
    // The entries as they are now, keys and aliases included.
    for (const char* rebuild : {"INSERT INTO terms_fts (terms_fts) VALUES ('rebuild')",
                                "INSERT INTO names_fts (names_fts) VALUES ('rebuild')"}) {
      if (auto done = exec(db, rebuild); !done) return fail(done.error());
    }
  }
  if (from < 6) {
    // A new store is offered the system's dictionaries; one that was there before only lists them.
    const std::string offered = std::string("INSERT INTO store_facts (name, value) VALUES ('") +
                                std::string(kSystemDictionariesFact) + "', '" + (from == 0 ? "pending" : "done") + "')";
    if (auto done = exec(db, offered.c_str()); !done) return fail(done.error());
  }
  if (from == 0) {
    for (const auto& draft : seed) {
      auto saved = save_in_transaction(db, draft);
      if (!saved) return fail(saved.error());
    }
  }
  // PRAGMA takes no bound parameters; the value is our own constant.
  std::string set_version = "PRAGMA user_version = " + std::to_string(kStoreSchemaVersion);
  if (auto done = exec(db, set_version.c_str()); !done) return fail(done.error());
  if (auto done = exec(db, "COMMIT"); !done) return fail(done.error());
  return {};
}

}  // namespace ruvo::desktop::store
