#include "store/store.hpp"

#include "common/utf8.hpp"
#include "platform/clock.hpp"
#include "platform/files.hpp"
#include "platform/platform.hpp"
#include "store/match_key.hpp"
#include "store/store_sql.hpp"

#include <sqlite3.h>

#include <cctype>
#include <iterator>
#include <map>
#include <set>
#include <utility>

namespace ruvo::desktop {

using namespace store_sql;

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
};
static_assert(std::size(kMigrations) == kStoreSchemaVersion);

using common::Error;

Result<int> schema_version(sqlite3* db) {
  Statement st(db, "PRAGMA user_version");
  if (!st.ok() || st.step() != SQLITE_ROW) return sqlite_error(db, "PRAGMA user_version");
  return static_cast<int>(st.integer(0));
}

}  // namespace

namespace store_sql {

// Stored fields as an object of non-blank strings; a damaged value reads as
// no fields rather than failing the request.
JsonValue read_fields(const std::string& text) {
  JsonValue out = JsonValue::object();
  auto parsed = common::parse_json(text);
  if (!parsed || !parsed->is_object()) return out;
  for (auto& [key, value] : parsed->items()) {
    if (value.is_string() && !common::is_blank(value.get_ref<const std::string&>())) out[key] = value;
  }
  return out;
}

JsonValue merge_fields(JsonValue stored, const JsonValue& given) {
  if (!stored.is_object()) stored = JsonValue::object();
  if (!given.is_object()) return stored;
  for (auto& [key, value] : given.items()) {
    if (!value.is_string()) continue;
    if (common::is_blank(value.get_ref<const std::string&>())) {
      stored.erase(key);
    } else {
      stored[key] = value;
    }
  }
  return stored;
}

// Stored aliases as a list of strings; a damaged value reads as none.
std::vector<std::string> read_aliases(const std::string& text) {
  std::vector<std::string> out;
  auto parsed = common::parse_json(text);
  if (!parsed || !parsed->is_array()) return out;
  for (const auto& alias : *parsed) {
    if (alias.is_string()) out.push_back(alias.get<std::string>());
  }
  return out;
}

TermEntry entry_from_row(const Statement& st) {
  return TermEntry{std::to_string(st.integer(0)), st.text(1), st.text(2), st.text(3), read_fields(st.text(4)),
                   st.text(5), read_aliases(st.text(6)), st.integer(7)};
}


// ruvo_index_text(text): index_text for the search index; NULL stays NULL.
void index_text_function(sqlite3_context* context, int, sqlite3_value** values) {
  if (sqlite3_value_type(values[0]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(values[0]));
  std::string indexed = index_text(std::string_view(text ? text : "", static_cast<std::size_t>(sqlite3_value_bytes(values[0]))));
  sqlite3_result_text(context, indexed.data(), static_cast<int>(indexed.size()), SQLITE_TRANSIENT);
}

std::string index_values(const JsonValue& values) {
  std::string joined;
  if (!values.is_array() && !values.is_object()) return joined;
  for (const auto& value : values) {
    if (!value.is_string()) continue;
    if (!joined.empty()) joined += ' ';
    joined += index_text(value.get_ref<const std::string&>());
  }
  return joined;
}

// ruvo_index_values(json): index_values of a stored JSON text.
void index_values_function(sqlite3_context* context, int, sqlite3_value** values) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(values[0]));
  std::string joined;
  if (text != nullptr) {
    auto parsed = common::parse_json(std::string_view(text, static_cast<std::size_t>(sqlite3_value_bytes(values[0]))));
    if (parsed) joined = index_values(*parsed);
  }
  sqlite3_result_text(context, joined.data(), static_cast<int>(joined.size()), SQLITE_TRANSIENT);
}

// Runs one statement whose only parameter is an entry's id.
Result<void> run_for_id(sqlite3* db, const char* sql, std::int64_t id, std::string_view what) {
  Statement st(db, sql);
  if (!st.ok()) return sqlite_error(db, "prepare " + std::string(what));
  st.bind(1, id);
  if (st.step() != SQLITE_DONE) return sqlite_error(db, what);
  return {};
}

// The search index's entry of a row, taken out before the row changes and
// put in again after: the index keeps no text of its own, so what it is told
// to forget must be what it was given, read through the same view.
Result<void> unindex_row(sqlite3* db, std::int64_t id) {
  if (auto out = run_for_id(db,
                            "INSERT INTO terms_fts (terms_fts, rowid, term, aliases, body) "
                            "SELECT 'delete', id, term, aliases, body FROM term_search WHERE id = ?1",
                            id, "index");
      !out) {
    return out;
  }
  return run_for_id(db,
                    "INSERT INTO names_fts (names_fts, rowid, term, aliases) "
                    "SELECT 'delete', id, term, aliases FROM term_search WHERE id = ?1",
                    id, "index");
}

Result<void> index_row(sqlite3* db, std::int64_t id) {
  if (auto in = run_for_id(db,
                           "INSERT INTO terms_fts (rowid, term, aliases, body) "
                           "SELECT id, term, aliases, body FROM term_search WHERE id = ?1",
                           id, "index");
      !in) {
    return in;
  }
  return run_for_id(db,
                    "INSERT INTO names_fts (rowid, term, aliases) SELECT id, term, aliases FROM term_search WHERE id = ?1",
                    id, "index");
}

// Replaces the entry's aliases, column and keys, inside a transaction the
// caller has begun.
Result<void> write_aliases(sqlite3* db, std::int64_t id, const std::vector<std::string>& aliases) {
  Statement column(db, "UPDATE terms SET aliases = ?1 WHERE id = ?2");
  if (!column.ok()) return sqlite_error(db, "prepare aliases");
  column.bind(1, common::to_compact(JsonValue(aliases)));
  column.bind(2, id);
  if (column.step() != SQLITE_DONE) return sqlite_error(db, "aliases");
  if (auto cleared = run_for_id(db, "DELETE FROM term_aliases WHERE term_id = ?1", id, "aliases"); !cleared) {
    return cleared;
  }
  for (const auto& alias : aliases) {
    Statement one(db, "INSERT OR IGNORE INTO term_aliases (alias_key, term_id) VALUES (?1, ?2)");
    one.bind(1, term_key(alias));
    one.bind(2, id);
    if (one.step() != SQLITE_DONE) return sqlite_error(db, "aliases");
  }
  return {};
}

// A saved name is no longer missing.
Result<void> forget_misses(sqlite3* db, const TermEntry& entry) {
  std::vector<std::string> names = entry.aliases;
  names.push_back(entry.term);
  for (const auto& name : names) {
    Statement forget(db, "DELETE FROM misses WHERE text_key = ?1");
    if (!forget.ok()) return sqlite_error(db, "prepare misses");
    forget.bind(1, term_key(name));
    if (forget.step() != SQLITE_DONE) return sqlite_error(db, "misses");
  }
  return {};
}

}  // namespace store_sql

namespace {

Result<std::optional<TermEntry>> select_one(sqlite3* db, Statement st, std::string_view key,
                                            std::string_view lang) {
  if (!st.ok()) return sqlite_error(db, "prepare lookup");
  st.bind(1, key);
  st.bind(2, lang);
  int rc = st.step();
  if (rc == SQLITE_DONE) return std::optional<TermEntry>();
  if (rc != SQLITE_ROW) return sqlite_error(db, "lookup");
  return std::optional<TermEntry>(entry_from_row(st));
}

// What a save finds of an existing entry with the draft's (key, lang).
struct Existing {
  std::int64_t id = 0;
  std::string fields;
  std::string aliases;
};

Result<std::optional<Existing>> find_existing(sqlite3* db, const TermDraft& draft) {
  Statement find(db, "SELECT id, fields, aliases FROM terms WHERE term_key = ?1 AND lang = ?2");
  if (!find.ok()) return sqlite_error(db, "prepare save");
  find.bind(1, term_key(draft.term));
  find.bind(2, draft.lang);
  int rc = find.step();
  if (rc == SQLITE_DONE) return std::optional<Existing>();
  if (rc != SQLITE_ROW) return sqlite_error(db, "save");
  return std::optional<Existing>(Existing{find.integer(0), find.text(1), find.text(2)});
}

Result<TermEntry> insert_entry(sqlite3* db, const TermDraft& draft) {
  TermEntry entry{{}, draft.term, draft.lang, draft.category_id, merge_fields(JsonValue::object(), draft.fields),
                  draft.source, draft.aliases.value_or(std::vector<std::string>{})};
  Statement insert(db,
                   "INSERT INTO terms (term, term_key, lang, category_id, fields, created_at, updated_at, source) "
                   "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?6, ?7)");
  if (!insert.ok()) return sqlite_error(db, "prepare insert");
  insert.bind(1, entry.term);
  insert.bind(2, term_key(draft.term));
  insert.bind(3, entry.lang);
  insert.bind(4, entry.category_id);
  insert.bind(5, common::to_compact(entry.fields));
  entry.updated_at = platform::unix_seconds();
  insert.bind(6, entry.updated_at);
  insert.bind(7, entry.source);
  if (insert.step() != SQLITE_DONE) return sqlite_error(db, "insert");
  const std::int64_t id = sqlite3_last_insert_rowid(db);
  entry.id = std::to_string(id);
  if (!entry.aliases.empty()) {
    if (auto written = write_aliases(db, id, entry.aliases); !written) return written.error();
  }
  if (auto indexed = index_row(db, id); !indexed) return indexed.error();
  if (auto forgotten = forget_misses(db, entry); !forgotten) return forgotten.error();
  return entry;
}

// Inserts or merges, inside a transaction the caller has begun.
Result<TermEntry> save_in_transaction(sqlite3* db, const TermDraft& draft) {
  auto existing = find_existing(db, draft);
  if (!existing) return existing.error();
  const auto& found = *existing;
  if (!found) return insert_entry(db, draft);

  TermEntry entry{std::to_string(found->id), draft.term, draft.lang, draft.category_id,
                  merge_fields(read_fields(found->fields), draft.fields), draft.source,
                  draft.aliases ? *draft.aliases : read_aliases(found->aliases)};
  if (auto out = unindex_row(db, found->id); !out) return out.error();
  Statement update(db,
                   "UPDATE terms SET term = ?1, category_id = ?2, fields = ?3, updated_at = ?4, source = ?5 "
                   "WHERE id = ?6");
  if (!update.ok()) return sqlite_error(db, "prepare update");
  update.bind(1, entry.term);
  update.bind(2, entry.category_id);
  update.bind(3, common::to_compact(entry.fields));
  entry.updated_at = platform::unix_seconds();
  update.bind(4, entry.updated_at);
  update.bind(5, entry.source);
  update.bind(6, found->id);
  if (update.step() != SQLITE_DONE) return sqlite_error(db, "update");
  if (draft.aliases) {
    if (auto written = write_aliases(db, found->id, *draft.aliases); !written) return written.error();
  }
  if (auto indexed = index_row(db, found->id); !indexed) return indexed.error();
  if (auto forgotten = forget_misses(db, entry); !forgotten) return forgotten.error();
  return entry;
}

// Inserts only into a free (key, lang), inside a transaction the caller has
// begun.
Result<std::optional<TermEntry>> insert_if_absent_in_transaction(sqlite3* db, const TermDraft& draft) {
  auto existing = find_existing(db, draft);
  if (!existing) return existing.error();
  if (*existing) return std::optional<TermEntry>();
  auto inserted = insert_entry(db, draft);
  if (!inserted) return inserted.error();
  return std::optional<TermEntry>(std::move(inserted).value());
}


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
    auto [at, fresh] = kept.try_emplace({term_key(row.term), row.lang},
                                        Kept{i, read_fields(row.fields), read_aliases(row.aliases)});
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


std::string one_line(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

// What SQLite keeps beside the store: the write-ahead log, its shared-memory
// index, and the rollback journal of a store not yet in WAL mode.
constexpr const char* kCompanionSuffixes[] = {"-wal", "-shm", "-journal"};

// Refuses a store any of whose files is a symbolic link, checked with lstat
// before anything is opened: SQLite would otherwise read and write the
// link's target. In the service the data folder is 0700 by then, so no one
// but its owner can put a link there afterwards.
Result<void> refuse_linked_files(const std::string& path) {
  std::vector<std::string> files = {path};
  for (const char* suffix : kCompanionSuffixes) files.push_back(path + suffix);
  for (const auto& file : files) {
    if (platform::is_symbolic_link(file)) {
      return common::failure(file + " is a symbolic link; the store is not opened through one");
    }
  }
  return {};
}

// The path SQLite is given. SQLITE_OPEN_NOFOLLOW refuses a link anywhere in
// a path, folders included, so the folder is resolved first: a folder
// reached through a link (a home or data folder moved to another disk) is
// its owner's choice, while a link at the store's own file is refused.
Result<std::string> resolved_store_path(const std::string& path) {
  auto slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  auto real = platform::real_path(folder);
  if (!real) return real.error();
  return platform::join_path(*real, slash == std::string::npos ? path : path.substr(slash + 1));
}

// Once SQLite has opened the store in WAL mode, its -wal and -shm files
// exist; a crash may have left them from a run with wider modes. Their
// modes are set by path: a descriptor of ours closed on them would drop the
// POSIX locks SQLite holds there.
Result<void> make_companions_private(const std::string& path) {
  for (const char* suffix : kCompanionSuffixes) {
    std::string file = path + suffix;
    auto mode = platform::file_mode(file);
    if (!mode || *mode == 0600) continue;
    if (auto made = platform::set_file_mode(file, 0600); !made) return made.error();
  }
  return {};
}

}  // namespace


void TermStore::mark_damaged(const std::string& detail) {
  if (damaged_.exchange(true)) return;  // the first sighting is the one reported
  damage_detail_ = one_line(detail.empty() ? std::string("database disk image is malformed") : detail);
}

void TermStore::quick_check() {
  DamageWatch watch(*this);
  Statement check(db_, "PRAGMA quick_check");
  if (!check.ok()) {
    (void)sqlite_error(db_, "PRAGMA quick_check");
    return;
  }
  // One row "ok" for a sound file; otherwise a row per problem found.
  int rc = check.step();
  if (rc == SQLITE_ROW && check.text(0) != "ok") {
    mark_damaged(check.text(0));
  } else if (rc != SQLITE_ROW) {
    (void)sqlite_error(db_, "PRAGMA quick_check");
  }
}

std::string TermStore::damage_detail() {
  std::lock_guard<std::mutex> guard(mutex_);
  return damage_detail_;
}

std::string term_key(std::string_view term) { return match_key(term); }

// A connection to the store at its resolved path, with what every
// connection of ours needs: the busy time-out, the index's SQL functions,
// WAL and synchronous=FULL.
Result<std::unique_ptr<TermStore>> TermStore::connect(const std::string& path) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
                      nullptr) != SQLITE_OK) {
    Error error = sqlite_error(db, "open " + path);
    sqlite3_close(db);
    return error;
  }
  std::unique_ptr<TermStore> store(new TermStore(db));
  sqlite3_busy_timeout(db, 5000);
  if (sqlite3_create_function_v2(db, "ruvo_index_text", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                 nullptr, index_text_function, nullptr, nullptr, nullptr) != SQLITE_OK) {
    return sqlite_error(db, "register ruvo_index_text");
  }
  if (sqlite3_create_function_v2(db, "ruvo_index_values", 1, SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                 nullptr, index_values_function, nullptr, nullptr, nullptr) != SQLITE_OK) {
    return sqlite_error(db, "register ruvo_index_values");
  }
  {
    Statement wal(db, "PRAGMA journal_mode = WAL");
    if (!wal.ok() || wal.step() != SQLITE_ROW || wal.text(0) != "wal") {
      return sqlite_error(db, "PRAGMA journal_mode = WAL");
    }
  }
  if (auto done = exec(db, "PRAGMA synchronous = FULL"); !done) return done.error();
  return store;
}

Result<std::unique_ptr<TermStore>> TermStore::open_another() {
  if (damaged()) return common::failure(std::string(kStoreDamagedRefusal));
  std::string path;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    const char* name = sqlite3_db_filename(db_, "main");
    path = name ? name : "";
  }
  if (auto refused = refuse_linked_files(path); !refused) return refused.error();
  return connect(path);
}

Result<std::unique_ptr<TermStore>> TermStore::open(const std::string& path, const std::vector<TermDraft>& seed) {
  if (auto refused = refuse_linked_files(path); !refused) return refused.error();
  if (auto made = platform::make_private_file(path); !made) return made.error();
  auto resolved = resolved_store_path(path);
  if (!resolved) return resolved.error();
  auto connected = connect(*resolved);
  if (!connected) return connected.error();
  std::unique_ptr<TermStore> store = std::move(connected).value();
  sqlite3* db = store->db_;
  if (auto made = make_companions_private(path); !made) return made.error();

  auto version = schema_version(db);
  if (!version) return version.error();
  int current = *version;
  if (current > kStoreSchemaVersion) {
    return common::failure("词库 " + path + " 的版本 " + std::to_string(current) + " 比本程序新（" +
                           std::to_string(kStoreSchemaVersion) + "），不敢改动");
  }
  store->quick_check();
  if (current < kStoreSchemaVersion && store->damaged()) {
    return common::failure("词库 " + path + " 已损坏（" + store->damage_detail() + "），需要升级却不敢改动");
  }
  if (current < kStoreSchemaVersion) {
    if (auto migrated = migrate(db, seed); !migrated) return migrated.error();
  }
  return store;
}

TermStore::~TermStore() {
  for (auto& [sql, stmt] : kept_) sqlite3_finalize(stmt);
  sqlite3_close(db_);
}

sqlite3_stmt* TermStore::kept_statement(const char* sql) {
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

Result<std::int64_t> TermStore::count() {
  std::lock_guard<std::mutex> guard(mutex_);
  DamageWatch watch(*this);
  // Counting reads a whole index, which for a million entries costs more
  // than the rest of a ruvo command; health is asked at every command, so
  // the count is kept until a write (ours, or another connection's, which
  // moves data_version) changes it.
  Statement version(kept_statement("PRAGMA data_version"));
  if (!version.ok() || version.step() != SQLITE_ROW) return sqlite_error(db_, "PRAGMA data_version");
  const std::int64_t now = version.integer(0);
  if (counted_ >= 0 && counted_version_ == now) return counted_;
  Statement st(kept_statement("SELECT COUNT(*) FROM terms"));
  if (!st.ok() || st.step() != SQLITE_ROW) return sqlite_error(db_, "count");
  counted_ = st.integer(0);
  counted_version_ = now;
  return counted_;
}

Result<std::optional<TermEntry>> TermStore::find(std::string_view term, std::string_view lang) {
  std::lock_guard<std::mutex> guard(mutex_);
  DamageWatch watch(*this);
  static const std::string sql = std::string(kSelectColumns) + "WHERE term_key = ?1 AND lang = ?2";
  static const std::string by_alias =
      std::string(kSelectColumns) +
      "WHERE id IN (SELECT term_id FROM term_aliases WHERE alias_key = ?1) AND lang = ?2 "
      "ORDER BY updated_at DESC, id DESC LIMIT 1";
  const std::string key = term_key(term);
  auto found = select_one(db_, Statement(kept_statement(sql.c_str())), key, lang);
  if (!found || *found) return found;
  return select_one(db_, Statement(kept_statement(by_alias.c_str())), key, lang);
}

Result<std::optional<TermEntry>> TermStore::find_any(std::string_view term, std::string_view preferred_lang) {
  std::lock_guard<std::mutex> guard(mutex_);
  DamageWatch watch(*this);
  static const std::string sql =
      std::string(kSelectColumns) + "WHERE term_key = ?1 ORDER BY lang = ?2 DESC, updated_at DESC, id DESC LIMIT 1";
  static const std::string by_alias = std::string(kSelectColumns) +
                                      "WHERE id IN (SELECT term_id FROM term_aliases WHERE alias_key = ?1) "
                                      "ORDER BY lang = ?2 DESC, updated_at DESC, id DESC LIMIT 1";
  const std::string key = term_key(term);
  auto found = select_one(db_, Statement(kept_statement(sql.c_str())), key, preferred_lang);
  if (!found || *found) return found;
  return select_one(db_, Statement(kept_statement(by_alias.c_str())), key, preferred_lang);
}

Result<TermEntry> TermStore::save(const TermDraft& draft) {
  std::lock_guard<std::mutex> guard(mutex_);
  counted_ = -1;  // whatever it writes, the count is read again
  if (damaged()) return common::failure(std::string(kStoreDamagedRefusal));
  DamageWatch watch(*this);
  auto saved = in_transaction(db_, [&] { return save_in_transaction(db_, draft); });
  if (saved) remember_names(*saved);
  return saved;
}

Result<std::optional<TermEntry>> TermStore::save_if_absent(const TermDraft& draft) {
  std::lock_guard<std::mutex> guard(mutex_);
  counted_ = -1;  // whatever it writes, the count is read again
  if (damaged()) return common::failure(std::string(kStoreDamagedRefusal));
  DamageWatch watch(*this);
  auto saved = in_transaction(db_, [&] { return insert_if_absent_in_transaction(db_, draft); });
  if (saved && *saved) remember_names(**saved);
  return saved;
}

void TermStore::remember_names(const TermEntry& entry) {
  if (!latin_) return;
  const std::int64_t id = std::stoll(entry.id);
  latin_->forget(id);
  latin_->add(id, term_key(entry.term));
  for (const auto& alias : entry.aliases) latin_->add(id, term_key(alias));
  // Our own writes do not move data_version; only other connections' do.
}

Result<void> TermStore::load_latin_names() {
  Statement version(kept_statement("PRAGMA data_version"));
  if (!version.ok() || version.step() != SQLITE_ROW) return sqlite_error(db_, "PRAGMA data_version");
  const std::int64_t now = version.integer(0);
  if (latin_ && now == latin_data_version_) return {};
  auto names = std::make_unique<LatinNames>();
  Statement all(db_, "SELECT id, term_key FROM terms UNION ALL SELECT term_id, alias_key FROM term_aliases");
  if (!all.ok()) return sqlite_error(db_, "prepare names");
  int rc;
  while ((rc = all.step()) == SQLITE_ROW) names->add(all.integer(0), all.text(1));
  if (rc != SQLITE_DONE) return sqlite_error(db_, "names");
  latin_ = std::move(names);
  latin_data_version_ = now;
  return {};
}


Result<void> TermStore::record_miss(std::string_view text) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (damaged()) return common::failure(std::string(kStoreDamagedRefusal));
  DamageWatch watch(*this);
  const std::string key = term_key(text);
  if (key.empty()) return {};
  return in_transaction(db_, [&]() -> Result<void> {
    Statement upsert(kept_statement(
        "INSERT INTO misses (text_key, text, count, last_at) VALUES (?1, ?2, 1, ?3) "
        "ON CONFLICT (text_key) DO UPDATE SET count = count + 1, text = excluded.text, last_at = excluded.last_at"));
    if (!upsert.ok()) return sqlite_error(db_, "prepare miss");
    upsert.bind(1, key);
    upsert.bind(2, common::trim_unicode_space(text));
    upsert.bind(3, platform::unix_seconds());
    if (upsert.step() != SQLITE_DONE) return sqlite_error(db_, "miss");
    static const std::string prune = "DELETE FROM misses WHERE text_key IN (SELECT text_key FROM misses "
                                     "ORDER BY last_at DESC, rowid DESC LIMIT -1 OFFSET " +
                                     std::to_string(kMaxMisses) + ")";
    Statement trim(kept_statement(prune.c_str()));
    if (!trim.ok() || trim.step() != SQLITE_DONE) return sqlite_error(db_, "miss");
    return {};
  });
}

Result<std::vector<Miss>> TermStore::misses(int limit) {
  std::lock_guard<std::mutex> guard(mutex_);
  DamageWatch watch(*this);
  Statement list(kept_statement("SELECT text, count, last_at FROM misses ORDER BY count DESC, last_at DESC LIMIT ?1"));
  if (!list.ok()) return sqlite_error(db_, "prepare misses");
  list.bind(1, static_cast<std::int64_t>(limit));
  std::vector<Miss> out;
  int rc;
  while ((rc = list.step()) == SQLITE_ROW) out.push_back(Miss{list.text(0), list.integer(1), list.integer(2)});
  if (rc != SQLITE_DONE) return sqlite_error(db_, "misses");
  return out;
}

}  // namespace ruvo::desktop

namespace ruvo::desktop {

Result<std::optional<TermEntry>> TermStore::get(std::int64_t id) {
  std::lock_guard<std::mutex> guard(mutex_);
  DamageWatch watch(*this);
  static const std::string sql = std::string(kSelectColumns) + "WHERE id = ?1";
  Statement st(kept_statement(sql.c_str()));
  if (!st.ok()) return sqlite_error(db_, "prepare get");
  st.bind(1, id);
  int rc = st.step();
  if (rc == SQLITE_DONE) return std::optional<TermEntry>();
  if (rc != SQLITE_ROW) return sqlite_error(db_, "get");
  TermEntry entry = entry_from_row(st);
  return std::optional<TermEntry>(std::move(entry));
}

Result<bool> TermStore::remove(std::int64_t id) {
  std::lock_guard<std::mutex> guard(mutex_);
  counted_ = -1;  // whatever it writes, the count is read again
  if (damaged()) return common::failure(std::string(kStoreDamagedRefusal));
  DamageWatch watch(*this);
  auto removed = in_transaction(db_, [&]() -> Result<bool> {
    Statement exists(db_, "SELECT 1 FROM terms WHERE id = ?1");
    if (!exists.ok()) return sqlite_error(db_, "prepare delete");
    exists.bind(1, id);
    int rc = exists.step();
    if (rc == SQLITE_DONE) return false;
    if (rc != SQLITE_ROW) return sqlite_error(db_, "delete");
    if (auto out = unindex_row(db_, id); !out) return out.error();
    for (const char* sql : {"DELETE FROM term_aliases WHERE term_id = ?1", "DELETE FROM terms WHERE id = ?1"}) {
      if (auto dropped = run_for_id(db_, sql, id, "delete"); !dropped) return dropped.error();
    }
    return true;
  });
  if (removed && *removed && latin_) latin_->forget(id);
  return removed;
}


}  // namespace ruvo::desktop
