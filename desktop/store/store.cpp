#include "store/store.hpp"

#include "common/utf8.hpp"
#include "store/match_key.hpp"
#include "platform/platform.hpp"
#include "platform/server.hpp"

#include <sqlite3.h>

#include <cctype>
#include <iterator>
#include <map>
#include <set>
#include <utility>

namespace ruvo::desktop {

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
};
static_assert(std::size(kMigrations) == kStoreSchemaVersion);

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
thread_local LastFailure last_failure;

Error sqlite_error(sqlite3* db, std::string_view what) {
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

Result<void> exec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) return sqlite_error(db, sql);
  return {};
}

Result<int> schema_version(sqlite3* db) {
  Statement st(db, "PRAGMA user_version");
  if (!st.ok() || st.step() != SQLITE_ROW) return sqlite_error(db, "PRAGMA user_version");
  return static_cast<int>(st.integer(0));
}

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

constexpr const char* kSelectColumns =
    "SELECT id, term, lang, category_id, fields, source, aliases, updated_at FROM terms ";

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

// A search as the index takes it: each Latin word a prefix ("promp"
// finds Prompt as it is typed), each run of Chinese characters a phrase
// (检索 inside 检索增强生成), all of them required. Every word is quoted,
// its quotes doubled, so no text becomes syntax of the index. Empty when
// the text has no word at all.
std::string search_expression(std::string_view text) {
  std::string indexed = index_text(text);
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start <= indexed.size()) {
    std::size_t end = indexed.find(' ', start);
    if (end == std::string::npos) end = indexed.size();
    if (end > start) words.push_back(indexed.substr(start, end - start));
    start = end + 1;
  }
  auto quoted = [](const std::string& word) {
    std::string out = "\"";
    for (char c : word) {
      out += c;
      if (c == '"') out += '"';
    }
    return out + "\"";
  };
  auto is_one_cjk = [](const std::string& word) {
    auto step = common::decode_utf8(word, 0);
    return step.valid && step.length == word.size() && step.scalar >= 0x2E80;
  };
  std::string expression;
  std::string phrase;
  auto flush_phrase = [&] {
    if (phrase.empty()) return;
    expression += (expression.empty() ? "" : " ") + quoted(phrase);
    phrase.clear();
  };
  for (const auto& word : words) {
    if (is_one_cjk(word)) {
      phrase += (phrase.empty() ? "" : " ") + word;
      continue;
    }
    flush_phrase();
    // Only words the index would keep: a word of punctuation alone matches nothing.
    bool has_text = false;
    for (unsigned char c : word) has_text = has_text || std::isalnum(c) || c >= 0x80;
    if (has_text) expression += (expression.empty() ? "" : " ") + quoted(word) + "*";
  }
  flush_phrase();
  return expression;
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

// ruvo_index_values(json): the string values of a JSON array or object
// (aliases, fields), one after another, as index_text gives them; the names
// of the fields are not searched.
void index_values_function(sqlite3_context* context, int, sqlite3_value** values) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(values[0]));
  std::string joined;
  if (text != nullptr) {
    auto parsed = common::parse_json(std::string_view(text, static_cast<std::size_t>(sqlite3_value_bytes(values[0]))));
    if (parsed && (parsed->is_array() || parsed->is_object())) {
      for (const auto& value : *parsed) {
        if (!value.is_string()) continue;
        if (!joined.empty()) joined += ' ';
        joined += index_text(value.get_ref<const std::string&>());
      }
    }
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
  return run_for_id(db,
                    "INSERT INTO terms_fts (terms_fts, rowid, term, aliases, body) "
                    "SELECT 'delete', id, term, aliases, body FROM term_search WHERE id = ?1",
                    id, "index");
}

Result<void> index_row(sqlite3* db, std::int64_t id) {
  return run_for_id(db,
                    "INSERT INTO terms_fts (rowid, term, aliases, body) "
                    "SELECT id, term, aliases, body FROM term_search WHERE id = ?1",
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
  if (from > 0) {
    // The entries as they are now, keys and aliases included.
    if (auto done = exec(db, "INSERT INTO terms_fts (terms_fts) VALUES ('rebuild')"); !done) return fail(done.error());
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

// The codes by which SQLite says the file itself is damaged, as opposed to
// busy, full or unreadable for now.
bool is_damage_code(int code) { return code == SQLITE_CORRUPT || code == SQLITE_NOTADB; }

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

class TermStore::DamageWatch {
 public:
  explicit DamageWatch(TermStore& store) : store_(store) { last_failure = LastFailure{}; }
  ~DamageWatch() {
    if (is_damage_code(last_failure.code)) store_.mark_damaged(last_failure.text);
  }
  DamageWatch(const DamageWatch&) = delete;
  DamageWatch& operator=(const DamageWatch&) = delete;

 private:
  TermStore& store_;
};

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

Result<std::unique_ptr<TermStore>> TermStore::open(const std::string& path, const std::vector<TermDraft>& seed) {
  if (auto refused = refuse_linked_files(path); !refused) return refused.error();
  if (auto made = platform::make_private_file(path); !made) return made.error();
  auto resolved = resolved_store_path(path);
  if (!resolved) return resolved.error();
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(resolved->c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW,
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
  Statement st(kept_statement("SELECT COUNT(*) FROM terms"));
  if (!st.ok() || st.step() != SQLITE_ROW) return sqlite_error(db_, "count");
  return st.integer(0);
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
  if (damaged()) return common::failure(std::string(kStoreDamagedRefusal));
  DamageWatch watch(*this);
  auto saved = in_transaction(db_, [&] { return save_in_transaction(db_, draft); });
  if (saved) remember_names(*saved);
  return saved;
}

Result<std::optional<TermEntry>> TermStore::save_if_absent(const TermDraft& draft) {
  std::lock_guard<std::mutex> guard(mutex_);
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

Result<std::vector<std::string>> TermStore::suggest(std::string_view text, std::size_t limit) {
  std::lock_guard<std::mutex> guard(mutex_);
  DamageWatch watch(*this);
  const std::string key = term_key(text);
  std::vector<std::string> out;
  if (key.empty() || limit == 0) return out;
  std::vector<NearName> near;
  auto consider = [&](std::int64_t id, const std::string& name) {
    Nearness n = nearness(key, name);
    if (n.tier >= 0) near.push_back(NearName{id, name, n});
  };

  // Names the text begins: a range of the key indexes. Past every UTF-8
  // sequence, so the range holds exactly the keys that start with `key`.
  const std::string past = key + "\xF4\x90\x80\x80";
  for (const char* sql : {"SELECT id, term_key FROM terms WHERE term_key > ?1 AND term_key < ?2 "
                          "ORDER BY length(term_key) LIMIT 50",
                          "SELECT term_id, alias_key FROM term_aliases WHERE alias_key > ?1 AND alias_key < ?2 "
                          "ORDER BY length(alias_key) LIMIT 50"}) {
    Statement prefix(kept_statement(sql));
    if (!prefix.ok()) return sqlite_error(db_, "prepare suggestions");
    prefix.bind(1, key);
    prefix.bind(2, past);
    int rc;
    while ((rc = prefix.step()) == SQLITE_ROW) consider(prefix.integer(0), prefix.text(1));
    if (rc != SQLITE_DONE) return sqlite_error(db_, "suggestions");
  }

  if (is_short_latin(key)) {
    if (auto loaded = load_latin_names(); !loaded) return loaded.error();
    for (auto& name : latin_->near(key)) near.push_back(std::move(name));
  } else {
    // Names sharing characters with the text: those holding its rarest
    // characters are found by reading the keys, up to a bound.
    std::set<std::string> characters;
    for (std::size_t pos = 0; pos < key.size();) {
      auto step = common::decode_utf8(key, pos);
      if (step.valid && step.scalar >= 0x80 && !common::is_unicode_space(step.scalar)) {
        characters.insert(key.substr(pos, step.length));
      }
      pos += step.length;
    }
    for (const auto& character : characters) {
      for (const char* sql : {"SELECT id, term_key FROM terms WHERE instr(term_key, ?1) > 0 LIMIT 200",
                              "SELECT term_id, alias_key FROM term_aliases WHERE instr(alias_key, ?1) > 0 LIMIT 200"}) {
        Statement sharing(kept_statement(sql));
        if (!sharing.ok()) return sqlite_error(db_, "prepare suggestions");
        sharing.bind(1, character);
        int rc;
        while ((rc = sharing.step()) == SQLITE_ROW) consider(sharing.integer(0), sharing.text(1));
        if (rc != SQLITE_DONE) return sqlite_error(db_, "suggestions");
      }
    }
  }

  for (const auto& name : best_names(std::move(near), limit)) {
    Statement term(kept_statement("SELECT term FROM terms WHERE id = ?1"));
    if (!term.ok()) return sqlite_error(db_, "prepare suggestions");
    term.bind(1, name.id);
    int rc = term.step();
    if (rc == SQLITE_ROW) {
      std::string spelling = term.text(0);
      bool seen = false;
      for (const auto& given : out) seen = seen || given == spelling;
      if (!seen) out.push_back(std::move(spelling));
    } else if (rc != SQLITE_DONE) {
      return sqlite_error(db_, "suggestions");
    }
  }
  return out;
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

Result<TermPage> TermStore::search(std::string_view query, int limit, int offset) {
  std::lock_guard<std::mutex> guard(mutex_);
  DamageWatch watch(*this);
  TermPage page;
  auto collect = [&](Statement& st) -> Result<void> {
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) page.terms.push_back(entry_from_row(st));
    if (rc != SQLITE_DONE) return sqlite_error(db_, "search");
    return {};
  };
  if (common::is_blank(query)) {
    Statement total(kept_statement("SELECT COUNT(*) FROM terms"));
    if (!total.ok() || total.step() != SQLITE_ROW) return sqlite_error(db_, "search");
    page.total = total.integer(0);
    static const std::string sql = std::string(kSelectColumns) + "ORDER BY updated_at DESC, id DESC LIMIT ?1 OFFSET ?2";
    Statement st(kept_statement(sql.c_str()));
    if (!st.ok()) return sqlite_error(db_, "prepare search");
    st.bind(1, static_cast<std::int64_t>(limit));
    st.bind(2, static_cast<std::int64_t>(offset));
    if (auto done = collect(st); !done) return done.error();
    return page;
  }
  const std::string expression = search_expression(query);
  if (expression.empty()) return page;
  Statement total(kept_statement("SELECT COUNT(*) FROM terms_fts WHERE terms_fts MATCH ?1"));
  if (!total.ok()) return sqlite_error(db_, "prepare search");
  total.bind(1, expression);
  if (total.step() != SQLITE_ROW) return sqlite_error(db_, "search");
  page.total = total.integer(0);
  // A name that is the query itself first, then by relevance: a match in
  // the term counts most, then in an alias, then in the fields.
  static const std::string sql =
      "SELECT t.id, t.term, t.lang, t.category_id, t.fields, t.source, t.aliases, t.updated_at FROM terms_fts f "
      "JOIN terms t ON t.id = f.rowid WHERE terms_fts MATCH ?1 "
      "ORDER BY (t.term_key = ?2 OR EXISTS (SELECT 1 FROM term_aliases a WHERE a.term_id = t.id AND a.alias_key = ?2)) "
      "DESC, bm25(terms_fts, 10.0, 5.0, 1.0), t.id LIMIT ?3 OFFSET ?4";
  Statement st(kept_statement(sql.c_str()));
  if (!st.ok()) return sqlite_error(db_, "prepare search");
  st.bind(1, expression);
  st.bind(2, term_key(query));
  st.bind(3, static_cast<std::int64_t>(limit));
  st.bind(4, static_cast<std::int64_t>(offset));
  if (auto done = collect(st); !done) return done.error();
  return page;
}

}  // namespace ruvo::desktop

namespace ruvo::desktop {

Result<void> TermStore::export_records(const std::function<Result<void>(const TermRecord&)>& each) {
  std::lock_guard<std::mutex> guard(mutex_);
  DamageWatch watch(*this);
  // One read transaction: a save meanwhile is in the file whole or not at all.
  if (auto begun = exec(db_, "BEGIN"); !begun) return begun;
  auto result = [&]() -> Result<void> {
    Statement all(db_,
                  "SELECT term, lang, fields, aliases, source, created_at, updated_at FROM terms ORDER BY id");
    if (!all.ok()) return sqlite_error(db_, "prepare export");
    int rc;
    while ((rc = all.step()) == SQLITE_ROW) {
      TermRecord record{all.text(0),   all.text(1),      read_fields(all.text(2)), read_aliases(all.text(3)),
                        all.text(4),   all.integer(5),   all.integer(6)};
      if (auto done = each(record); !done) return done;
    }
    if (rc != SQLITE_DONE) return sqlite_error(db_, "export");
    return {};
  }();
  sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
  return result;
}

Result<ImportSummary> TermStore::import_records(const std::vector<TermRecord>& records) {
  std::lock_guard<std::mutex> guard(mutex_);
  if (damaged()) return common::failure(std::string(kStoreDamagedRefusal));
  DamageWatch watch(*this);
  auto imported = in_transaction(db_, [&]() -> Result<ImportSummary> {
    ImportSummary summary;
    const std::int64_t now = platform::unix_seconds();
    Statement find(db_, "SELECT id, source FROM terms WHERE term_key = ?1 AND lang = ?2");
    Statement insert(db_,
                     "INSERT INTO terms (term, term_key, lang, category_id, fields, created_at, updated_at, source) "
                     "VALUES (?1, ?2, ?3, 'term', ?4, ?5, ?6, ?7)");
    Statement update(db_,
                     "UPDATE terms SET term = ?1, fields = ?2, updated_at = ?3, source = ?4,"
                     " created_at = CASE WHEN ?6 > 0 THEN ?6 ELSE created_at END WHERE id = ?5");
    if (!find.ok() || !insert.ok() || !update.ok()) return sqlite_error(db_, "prepare import");
    for (const auto& record : records) {
      const std::string key = term_key(record.term);
      find.bind(1, key);
      find.bind(2, record.lang);
      int rc = find.step();
      std::optional<std::int64_t> existing;
      std::string stored_source;
      if (rc == SQLITE_ROW) {
        existing = find.integer(0);
        stored_source = find.text(1);
      } else if (rc != SQLITE_DONE) {
        return sqlite_error(db_, "import");
      }
      find.reset();
      const std::int64_t updated = record.updated_at ? record.updated_at : now;
      std::int64_t id = 0;
      if (existing) {
        // What a person saved, or the glossary gave, a model does not replace.
        if (record.source == kSourceModel && stored_source != kSourceModel) {
          ++summary.kept;
          continue;
        }
        id = *existing;
        if (auto out = unindex_row(db_, id); !out) return out.error();
        update.bind(1, record.term);
        update.bind(2, common::to_compact(record.fields));
        update.bind(3, updated);
        update.bind(4, record.source);
        update.bind(5, id);
        update.bind(6, record.created_at);
        if (update.step() != SQLITE_DONE) return sqlite_error(db_, "import");
        update.reset();
        ++summary.updated;
      } else {
        insert.bind(1, record.term);
        insert.bind(2, key);
        insert.bind(3, record.lang);
        insert.bind(4, common::to_compact(record.fields));
        insert.bind(5, record.created_at ? record.created_at : updated);
        insert.bind(6, updated);
        insert.bind(7, record.source);
        if (insert.step() != SQLITE_DONE) return sqlite_error(db_, "import");
        insert.reset();
        id = sqlite3_last_insert_rowid(db_);
        ++summary.added;
      }
      if (auto written = write_aliases(db_, id, record.aliases); !written) return written.error();
      if (auto indexed = index_row(db_, id); !indexed) return indexed.error();
      TermEntry names;
      names.term = record.term;
      names.aliases = record.aliases;
      if (auto forgotten = forget_misses(db_, names); !forgotten) return forgotten.error();
    }
    return summary;
  });
  // The names in memory are read again at the next suggestion.
  if (imported) latin_.reset();
  return imported;
}

}  // namespace ruvo::desktop
