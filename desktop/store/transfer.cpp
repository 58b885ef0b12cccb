// Moving entries in and out of the store as a whole: an export read from a
// snapshot on a connection of its own, and an import written in one
// transaction on the writer.
#include "platform/clock.hpp"
#include "store/connection_pool.hpp"
#include "store/latin_cache.hpp"
#include "store/match_key.hpp"
#include "store/rows.hpp"
#include "store/sql.hpp"
#include "store/store.hpp"

#include <string>
#include <vector>

namespace ruvo::desktop::store {

namespace {

// An export's page cache, in KiB: its rows are read once, in order, so pages
// are not read twice and a few suffice.
constexpr int kExportCacheKiB = 256;

}  // namespace

class TermExport::Cursor {
 public:
  explicit Cursor(std::shared_ptr<std::atomic<int>> open) : open_(std::move(open)) {}
  sqlite3* db = nullptr;
  sqlite3_stmt* rows = nullptr;
  bool finished = false;  // stepped past the last row: SQLite would start over
  ~Cursor() {
    sqlite3_finalize(rows);
    if (db != nullptr) sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    --*open_;
  }
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

 private:
  std::shared_ptr<std::atomic<int>> open_;  // the store's count of open exports, this one in it
};

TermExport::TermExport(std::unique_ptr<Cursor> cursor) : cursor_(std::move(cursor)) {}
TermExport::~TermExport() = default;
TermExport::TermExport(TermExport&&) noexcept = default;

Result<std::optional<TermRecord>> TermExport::next() {
  sqlite3_stmt* rows = cursor_->rows;
  if (cursor_->finished) return std::optional<TermRecord>();
  const int rc = sqlite3_step(rows);
  if (rc == SQLITE_DONE) {
    cursor_->finished = true;
    return std::optional<TermRecord>();
  }
  if (rc != SQLITE_ROW) return sqlite_error(cursor_->db, "export");
  auto text = [rows](int column) {
    auto* data = reinterpret_cast<const char*>(sqlite3_column_text(rows, column));
    return data ? std::string(data, static_cast<std::size_t>(sqlite3_column_bytes(rows, column))) : std::string();
  };
  return std::optional<TermRecord>(TermRecord{text(0), text(1), read_fields(text(2)), read_aliases(text(3)), text(4),
                                              sqlite3_column_int64(rows, 5), sqlite3_column_int64(rows, 6)});
}

Result<TermExport> TermStore::open_export() {
  // Counted in first: two calls at once cannot both take the last place.
  if (++*exports_open_ > kMaxExportsInFlight) {
    --*exports_open_;
    return common::failure(common::ErrorKind::kBusy,
                           "已有 " + std::to_string(kMaxExportsInFlight) + " 个导出在进行，请等它们结束再导出");
  }
  auto cursor = std::make_unique<TermExport::Cursor>(exports_open_);
  // A connection of its own, so that a long export holds neither a reader
  // nor the writer back: WAL lets them go on while it reads its snapshot.
  if (sqlite3_open_v2(path_.c_str(), &cursor->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW, nullptr) != SQLITE_OK) {
    return sqlite_error(cursor->db, "open export");
  }
  sqlite3_busy_timeout(cursor->db, static_cast<int>(bounds_.writer_wait.count()));
  const std::string cache = "PRAGMA cache_size = -" + std::to_string(kExportCacheKiB);
  if (auto set = exec(cursor->db, cache.c_str()); !set) return set.error();
  if (auto set = exec(cursor->db, "PRAGMA query_only = 1"); !set) return set.error();
  if (auto begun = exec(cursor->db, "BEGIN"); !begun) return begun.error();
  if (sqlite3_prepare_v2(cursor->db,
                         "SELECT term, lang, fields, aliases, source, created_at, updated_at FROM terms ORDER BY id",
                         -1, &cursor->rows, nullptr) != SQLITE_OK) {
    return sqlite_error(cursor->db, "prepare export");
  }
  // The snapshot starts with the first read, so take it now: what is
  // exported is the store as it was when the export began.
  const int first = sqlite3_step(cursor->rows);
  if (first != SQLITE_ROW && first != SQLITE_DONE) return sqlite_error(cursor->db, "export");
  sqlite3_reset(cursor->rows);
  return TermExport(std::move(cursor));
}

Result<void> TermStore::export_records(const std::function<Result<void>(const TermRecord&)>& each) {
  auto opened = open_export();
  if (!opened) return opened.error();
  for (;;) {
    auto record = opened->next();
    if (!record) return record.error();
    if (!*record) return {};
    if (auto done = each(**record); !done) return done;
  }
}

namespace {

// The statements an import runs for every record, prepared once.
struct ImportStatements {
  explicit ImportStatements(sqlite3* db)
      : find(db, "SELECT id, source, term, aliases, fields FROM terms WHERE term_key = ?1 AND lang = ?2"),
        insert(db,
               "INSERT INTO terms (term, term_key, lang, category_id, fields, aliases, created_at, updated_at, source) "
               "VALUES (?1, ?2, ?3, 'term', ?4, ?5, ?6, ?7, ?8)"),
        update(db,
               "UPDATE terms SET term = ?1, fields = ?2, aliases = ?3, updated_at = ?4, source = ?5,"
               " created_at = CASE WHEN ?7 > 0 THEN ?7 ELSE created_at END WHERE id = ?6"),
        // One row each, given as values: a statement that may write several
        // rows of the index makes it write out what it holds in memory at
        // every statement, which costs an import most of its time.
        unindex(db, "INSERT INTO terms_fts (terms_fts, rowid, term, aliases, body) VALUES ('delete', ?1, ?2, ?3, ?4)"),
        index(db, "INSERT INTO terms_fts (rowid, term, aliases, body) VALUES (?1, ?2, ?3, ?4)"),
        unindex_names(db, "INSERT INTO names_fts (names_fts, rowid, term, aliases) VALUES ('delete', ?1, ?2, ?3)"),
        index_names(db, "INSERT INTO names_fts (rowid, term, aliases) VALUES (?1, ?2, ?3)"),
        drop_aliases(db, "DELETE FROM term_aliases WHERE term_id = ?1"),
        add_alias(db, "INSERT OR IGNORE INTO term_aliases (alias_key, term_id) VALUES (?1, ?2)") {}

  bool ok() const {
    return find.ok() && insert.ok() && update.ok() && unindex.ok() && index.ok() && unindex_names.ok() &&
           index_names.ok() && drop_aliases.ok() && add_alias.ok();
  }

  // Puts a row's words into both indexes, or takes them out ("delete").
  Result<void> index_both(sqlite3* db, bool remove, std::int64_t id, const std::string& term,
                          const std::string& aliases, const std::string& body) {
    Statement& all = remove ? unindex : index;
    all.bind(1, id);
    all.bind(2, term);
    all.bind(3, aliases);
    all.bind(4, body);
    if (all.step() != SQLITE_DONE) {
      all.reset();
      return sqlite_error(db, "import");
    }
    all.reset();
    Statement& names = remove ? unindex_names : index_names;
    names.bind(1, id);
    names.bind(2, term);
    names.bind(3, aliases);
    const int rc = names.step();
    names.reset();
    if (rc != SQLITE_DONE) return sqlite_error(db, "import");
    return {};
  }

  Statement find, insert, update, unindex, index, unindex_names, index_names, drop_aliases, add_alias;
};

// A stored JSON text as the view's functions read it: anything unreadable
// holds nothing to index.
JsonValue read_json(const std::string& text) {
  auto parsed = common::parse_json(text);
  return parsed ? std::move(parsed).value() : JsonValue();
}

// Runs a statement that returns no row and readies it for the next record.
Result<void> run(sqlite3* db, Statement& st) {
  const int rc = st.step();
  st.reset();
  if (rc != SQLITE_DONE) return sqlite_error(db, "import");
  return {};
}

// A bigger page cache while an import runs: its inserts touch pages all
// over the indexes, and the default of a few megabytes sends most of them
// to the write-ahead log and back.
class LargerCache {
 public:
  explicit LargerCache(sqlite3* db) : db_(db) {
    Statement size(db, "PRAGMA cache_size");
    if (size.ok() && size.step() == SQLITE_ROW) before_ = size.integer(0);
    sqlite3_exec(db, "PRAGMA cache_size = -262144", nullptr, nullptr, nullptr);
  }
  ~LargerCache() {
    const std::string restore = "PRAGMA cache_size = " + std::to_string(before_);
    sqlite3_exec(db_, restore.c_str(), nullptr, nullptr, nullptr);
    sqlite3_db_release_memory(db_);
  }
  LargerCache(const LargerCache&) = delete;
  LargerCache& operator=(const LargerCache&) = delete;

 private:
  sqlite3* db_;
  std::int64_t before_ = -2000;
};

}  // namespace

Result<ImportSummary> TermStore::import_records(const std::vector<TermRecord>& records) {
  return import_records([&](const RecordSink& put) -> Result<void> {
    for (const auto& record : records) {
      if (auto done = put(record); !done) return done;
    }
    return {};
  });
}

Result<ImportSummary> TermStore::import_file(std::string_view text, TermFileFormat format) {
  // read_term_file gives the file's faults the kind kBadImport and passes
  // the store's on as they are.
  return import_records([&](const RecordSink& put) -> Result<void> {
    return read_term_file(text, format, [&](TermRecord record, std::size_t) { return put(record); });
  });
}

Result<ImportSummary> TermStore::import_records(const std::function<Result<void>(const RecordSink&)>& produce) {
  if (damaged()) return damaged_refusal();
  auto writer = writer_->lease();
  if (!writer) return writer.error();
  sqlite3* db = (*writer)->db();
  LargerCache cache(db);
  auto imported = noted(in_transaction(db, [&]() -> Result<ImportSummary> {
    ImportSummary summary;
    const std::int64_t now = platform::unix_seconds();
    ImportStatements st(db);
    if (!st.ok()) return sqlite_error(db, "prepare import");
    auto put = [&](const TermRecord& record) -> Result<void> {
      const std::string key = term_key(record.term);
      st.find.bind(1, key);
      st.find.bind(2, record.lang);
      const int rc = st.find.step();
      std::optional<std::int64_t> existing;
      std::string stored_source, stored_term, stored_aliases, stored_fields;
      if (rc == SQLITE_ROW) {
        existing = st.find.integer(0);
        stored_source = st.find.text(1);
        stored_term = st.find.text(2);
        stored_aliases = st.find.text(3);
        stored_fields = st.find.text(4);
      }
      st.find.reset();
      if (rc != SQLITE_ROW && rc != SQLITE_DONE) return sqlite_error(db, "import");
      const std::int64_t updated = record.updated_at ? record.updated_at : now;
      const std::string fields = common::to_compact(record.fields);
      const std::string aliases = common::to_compact(JsonValue(record.aliases));
      std::int64_t id = 0;
      if (existing) {
        // What a person saved, or the glossary gave, a model does not replace.
        if (record.source == kSourceModel && stored_source != kSourceModel) {
          ++summary.kept;
          return {};
        }
        id = *existing;
        // The index keeps no text of its own: what it forgets must be what
        // the view gave it for the stored row.
        if (auto out = st.index_both(db, true, id, index_text(stored_term), index_values(read_json(stored_aliases)),
                                     index_values(read_json(stored_fields)));
            !out) {
          return out;
        }
        st.update.bind(1, record.term);
        st.update.bind(2, fields);
        st.update.bind(3, aliases);
        st.update.bind(4, updated);
        st.update.bind(5, record.source);
        st.update.bind(6, id);
        st.update.bind(7, record.created_at);
        if (auto out = run(db, st.update); !out) return out;
        st.drop_aliases.bind(1, id);
        if (auto out = run(db, st.drop_aliases); !out) return out;
        ++summary.updated;
      } else {
        st.insert.bind(1, record.term);
        st.insert.bind(2, key);
        st.insert.bind(3, record.lang);
        st.insert.bind(4, fields);
        st.insert.bind(5, aliases);
        st.insert.bind(6, record.created_at ? record.created_at : updated);
        st.insert.bind(7, updated);
        st.insert.bind(8, record.source);
        if (auto out = run(db, st.insert); !out) return out;
        id = sqlite3_last_insert_rowid(db);
        ++summary.added;
      }
      for (const auto& alias : record.aliases) {
        st.add_alias.bind(1, term_key(alias));
        st.add_alias.bind(2, id);
        if (auto out = run(db, st.add_alias); !out) return out;
      }
      return st.index_both(db, false, id, index_text(record.term), index_values(JsonValue(record.aliases)),
                           index_values(record.fields));
    };
    if (auto produced = produce(put); !produced) return produced.error();
    // A name the import brought is no longer missing. The misses are few;
    // each is looked up among the keys rather than each key among them.
    if (auto forgotten = exec(db,
                              "DELETE FROM misses WHERE EXISTS (SELECT 1 FROM terms WHERE term_key = misses.text_key)"
                              " OR EXISTS (SELECT 1 FROM term_aliases WHERE alias_key = misses.text_key)");
        !forgotten) {
      return forgotten.error();
    }
    return summary;
  }));
  if (imported) {
    counted_by(static_cast<std::int64_t>(imported->added));
    // The names in memory are read again at the next suggestion.
    latin_->drop();
  }
  return imported;
}

}  // namespace ruvo::desktop::store
