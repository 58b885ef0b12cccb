// The term store: one SQLite file in the application-data folder. The store
// is split by what it does: its schema (schema.cpp), its files (file_safety),
// its connections (sqlite_connection, connection_pool), opening and counting
// (store.cpp), damage (damage.cpp), reads, writes, search, suggestions and
// the names they keep in memory (latin_cache), and export and import
// (transfer.cpp).
#pragma once

#include "common/json.hpp"
#include "common/result.hpp"
#include "store/suggest.hpp"
#include "store/term_file.hpp"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::store {

class Connection;
class LatinCache;
class ReaderPool;
class Writer;

using common::JsonValue;
using common::Result;

inline constexpr std::string_view kStoreFileName = "ruvo-terms.sqlite3";

// The schema this program writes; PRAGMA user_version holds it.
inline constexpr int kStoreSchemaVersion = 5;

// Who wrote an entry: a person through a save request, the starter glossary,
// or a language model whose answer was remembered. Entries of a store older
// than this record count as the user's.
inline constexpr std::string_view kSourceUser = "user";
inline constexpr std::string_view kSourceGlossary = "glossary";
inline constexpr std::string_view kSourceModel = "model";

// A term to store: what a save request or the starter glossary gives.
struct TermDraft {
  std::string term;                               // trimmed, not blank
  std::string lang;                               // "zh" or "en"
  std::string category_id;                        // "term" from ruvo
  JsonValue fields = JsonValue::object();         // string members; a blank one removes that field
  std::string source = std::string(kSourceUser);  // one of the kSource… values
  // Other names that find the entry; nothing keeps those stored.
  std::optional<std::vector<std::string>> aliases;
};

// A stored term.
struct TermEntry {
  std::string id;    // the row id in decimal, stable for the entry's life
  std::string term;  // as most recently saved
  std::string lang;
  std::string category_id;
  JsonValue fields = JsonValue::object();         // non-blank string members only
  std::string source = std::string(kSourceUser);  // who wrote it last
  std::vector<std::string> aliases;
  std::int64_t updated_at = 0;  // seconds since 1970
};

// A text looked up or explained that the store did not hold.
struct Miss {
  std::string text;  // as most recently typed
  std::int64_t count = 0;
  std::int64_t last_at = 0;  // seconds since 1970
};

// One page of a search, and how many entries match in all.
struct TermPage {
  std::int64_t total = 0;
  // False when the search matched more than kSearchCountedAtMost entries:
  // `total` is then that bound, and only the first that many are listed.
  // False too for a partial search: `total` is then what it had counted.
  bool total_exact = true;
  // The search ran out of its time budget: `terms` are the matches it had
  // found by then, not necessarily the best.
  bool partial = false;
  std::vector<TermEntry> terms;
};

// The most distinct words of a query a search looks for (each Chinese
// character counts as one); the rest are ignored. Every word is another
// list of the index to read, and no one types more than this to find an
// entry.
inline constexpr std::size_t kMaxSearchWords = 16;

// The most distinct characters of a Chinese text suggestions look up in the
// index, each a list of names to read. A name near the text shares two
// thirds of its characters, so it holds some of the first this many unless
// the text has three times as many.
inline constexpr std::size_t kMaxSuggestCharacters = 32;

// What a write says when it cannot have the store soon (an import, another
// program's or ours, or another save holds it): of the kind kBusy.
inline constexpr std::string_view kStoreBusyMessage = "词库正忙（正在导入或另一次保存），请稍后再试";

// The most exports open at once; another is refused as busy. Each holds a
// connection and a snapshot of the store while its reader reads.
inline constexpr int kMaxExportsInFlight = 4;

// How long the store's work may take before it gives up or cuts it short.
struct StoreBounds {
  // A write waits at most this for the writer (another save or an import of
  // ours) and, through SQLite's busy time-out, for another program writing;
  // then it fails as busy (kStoreBusyMessage).
  std::chrono::milliseconds writer_wait{2000};
  // A search's budget: past it, it answers with what it found (partial).
  std::chrono::milliseconds search_budget{1500};
  // Suggestions' budget: past it, they give what they found.
  std::chrono::milliseconds suggest_budget{150};
};

// The most matches a search counts and lists. Counting every match of a
// word found in half of a million entries takes longer than a person waits
// between two keys; past this many, the query is refined, not paged.
inline constexpr std::int64_t kSearchCountedAtMost = 10000;

// What an import did: entries added, entries updated, and entries kept as
// they were because a model's answer does not replace what a person saved.
struct ImportSummary {
  std::size_t added = 0;
  std::size_t updated = 0;
  std::size_t kept = 0;
};

// The misses kept: the most recent this many texts.
inline constexpr int kMaxMisses = 1000;

// The key terms and aliases are compared by: match_key (match_key.hpp), so
// "ＲＡＧ", " rag " and "RAG" share one, and so do 數據庫 and 数据库.
std::string term_key(std::string_view term);

// The error a save gets from a store that SQLite has reported damaged (of the
// kind kStoreDamaged).
inline constexpr std::string_view kStoreDamagedRefusal = "词库文件已损坏，不再往里写";

// Every store failure is a common::Error whose message says, on one line,
// what failed and SQLite's own text; its kind is kStoreDamaged when SQLite
// said the file is damaged, else kStoreFailure.

// An export in progress: the entries of one snapshot, one at a time, read
// row by row on a connection of its own with a small page cache.
class TermExport {
 public:
  class Cursor;
  explicit TermExport(std::unique_ptr<Cursor> cursor);
  ~TermExport();
  TermExport(TermExport&&) noexcept;
  TermExport& operator=(TermExport&&) = delete;

  // The next entry, or nothing after the last (and at every call after it).
  Result<std::optional<TermRecord>> next();

 private:
  std::unique_ptr<Cursor> cursor_;
};

class TermStore {
 public:
  // Opens the store at `path`, creating it owner-only when missing, in WAL
  // mode with synchronous=FULL, so an answered save survives the process
  // being killed. The store and its -wal and -shm files are made 0600; a
  // symbolic link at the store or at its -wal, -shm or -journal is refused
  // (links in the folders above are followed). A new store gets the current schema and, in the same
  // transaction, the `seed` entries; an older schema is migrated; a store
  // written by a newer program is refused rather than damaged.
  // An existing file is checked with PRAGMA quick_check: one that fails it
  // opens damaged (see damaged()), unless it would need migrating, which is
  // refused rather than written into a damaged file.
  //
  // Every method is safe from any thread. Reads (find, find_any, get,
  // search, suggest, misses, count, exports) run on reader connections of
  // their own, lent to one call at a time, and never wait for a write or
  // for each other. Writes (save, save_if_absent, remove, the imports)
  // take the one writer connection, waiting at most bounds.writer_wait,
  // else fail as busy (kBusy, kStoreBusyMessage).
  static Result<std::unique_ptr<TermStore>> open(const std::string& path, const std::vector<TermDraft>& seed,
                                                 StoreBounds bounds = {});

  ~TermStore();
  TermStore(const TermStore&) = delete;
  TermStore& operator=(const TermStore&) = delete;

  // The number of stored entries as last known, from memory alone: counted
  // when the store opened, kept by this store's own writes, and counted
  // again by refresh() once another program has written; -1 while SQLite
  // could not count them (a damaged file).
  std::int64_t known_count() const { return count_.load(); }

  // The number of stored entries, counted now on a reader.
  Result<std::int64_t> count();

  // Brings what the store keeps in memory up to date with the file: when
  // another program has written since (PRAGMA data_version of the writer),
  // the count is taken again and the names suggestions keep in memory are
  // read again; names not loaded yet are loaded. Skipped for now, without
  // waiting, while the writer is in use, and for a damaged store. For a
  // thread that looks every so often (the service's upkeep).
  Result<void> refresh();

  // The entry whose term has the same key in exactly this language, else
  // one that has it among its aliases. A text longer than any stored name
  // (kMaxTermChars characters once trimmed) names none.
  Result<std::optional<TermEntry>> find(std::string_view term, std::string_view lang);

  // The entry whose term has the same key in any language, one in
  // `preferred_lang` first, else the most recently updated one; failing
  // that, the same among entries that have it as an alias.
  Result<std::optional<TermEntry>> find_any(std::string_view term, std::string_view preferred_lang);

  // Hands every entry to `each` in the order they were added, from one
  // snapshot of the store (a save meanwhile is seen whole or not at all).
  Result<void> export_records(const std::function<Result<void>(const TermRecord&)>& each);

  // The entries in the order they were added, read from a snapshot taken
  // now on a connection of its own: the store stays free for every other
  // request while the export is read, however slowly. Safe to call from
  // any thread; the export itself is used by one thread at a time. With
  // kMaxExportsInFlight exports open, fails as busy (kBusy).
  Result<TermExport> open_export();

  // Stores the records in one transaction, all or nothing: an entry of the
  // same term (by key) and language is updated (its term, fields, aliases
  // and source replaced, its times taken from the record when it has them),
  // any other is added; a record whose source is "model" never replaces an
  // entry a person saved or the glossary gave.
  Result<ImportSummary> import_records(const std::vector<TermRecord>& records);

  // The same for records as `produce` reads them, handing each to the sink
  // it is given; an error from `produce` (a malformed line, say) or from
  // the sink rolls everything back and is returned as it is.
  using RecordSink = std::function<Result<void>(const TermRecord&)>;
  Result<ImportSummary> import_records(const std::function<Result<void>(const RecordSink&)>& produce);

  // The same for a whole file's text in the given format (read_term_file),
  // each record going into the transaction as it is read, so the file is
  // never held twice. A failure that is the file's (a malformed line, its
  // number in the message) has the kind kBadImport; the store's keep theirs.
  Result<ImportSummary> import_file(std::string_view text, TermFileFormat format);

  // The entry with this id, or nothing.
  Result<std::optional<TermEntry>> get(std::int64_t id);

  // Deletes the entry with this id, its aliases and its place in the search
  // index, in one transaction; false when there was none.
  Result<bool> remove(std::int64_t id);

  // Entries whose term, aliases or fields hold every word of `query` (a
  // Latin word as the start of one, Chinese characters as a run; its first
  // kMaxSearchWords distinct words), the entry named by the query itself
  // first, then the best matches; with a blank query every entry, the most
  // recently updated first. Held to bounds.search_budget: a search that runs
  // out lists what it had found and says `partial`.
  Result<TermPage> search(std::string_view query, int limit, int offset);

  // Up to `limit` stored terms a missed text may have meant, best first:
  // names (terms and aliases) the text begins, then short Latin names a
  // few edits away, then names sharing most of a Chinese text's characters
  // (its first kMaxSuggestCharacters distinct ones). Only the text's first
  // kMaxTermChars characters count. Empty when nothing is near. Held to
  // bounds.suggest_budget: suggestions that run out give what they found.
  Result<std::vector<std::string>> suggest(std::string_view text, std::size_t limit = 5);

  // Counts a text the store did not hold (by its key; the spelling kept is
  // the latest), keeping the kMaxMisses most recent texts. Only when the
  // writer is free at once: a miss is not worth a wait, so while the writer
  // is in use it is not counted and this fails as busy.
  Result<void> record_miss(std::string_view text);

  // The misses, most frequent first, then the most recent.
  Result<std::vector<Miss>> misses(int limit);

  // Stores the draft in one transaction: a new entry for a new (key, lang),
  // else the given fields replace those of the same name, a blank one removes
  // its field, the others stay, and the term takes the spelling just given.
  // Aliases given replace the stored ones. The entry takes the draft's
  // source, and the misses of its names are forgotten. Returns the entry as stored. Safe to
  // call from several threads.
  Result<TermEntry> save(const TermDraft& draft);

  // Stores the draft as a new entry only when no entry of the same (key,
  // lang) exists, in one transaction, so an answer that arrives late never
  // replaces what someone saved meanwhile. Returns the new entry, or nothing
  // when an entry was already there (it is left untouched).
  Result<std::optional<TermEntry>> save_if_absent(const TermDraft& draft);

  // True once SQLite has said the file is damaged: PRAGMA quick_check at
  // open, or SQLITE_CORRUPT or SQLITE_NOTADB from any statement since. It
  // stays true for the store's life. Reads still run and answer where
  // SQLite can; save and save_if_absent refuse with kStoreDamagedRefusal
  // rather than write into the file. Safe from any thread.
  bool damaged() const { return damaged_.load(); }

  // SQLite's words for the damage first seen, on one line; empty while the
  // store is not damaged.
  std::string damage_detail();

 private:
  // The steps of a search (search.cpp).
  class Search;

  TermStore(std::string path, StoreBounds bounds, std::unique_ptr<Connection> writer);

  // Passes a method's result on, marking the store damaged first when its
  // statements met a damaged file (an error of the kind kStoreDamaged, with
  // SQLite's words as its reason). Every method that runs statements returns
  // through it.
  template <typename T>
  Result<T> noted(Result<T> result) {
    if (!result.ok() && result.error().kind == common::ErrorKind::kStoreDamaged) mark_damaged(result.error().reason);
    return result;
  }

  // Runs PRAGMA quick_check and marks the store damaged when it fails.
  void quick_check(Connection& connection);
  // Sets damaged_, keeping `detail` if it is the first damage seen.
  void mark_damaged(const std::string& detail);
  // The refusal of a write into a damaged store.
  static common::Error damaged_refusal();

  // suggest() on a reader.
  Result<std::vector<std::string>> suggest_on(Connection& reader, std::string_view text, std::size_t limit);
  // The short Latin names in memory, read on the reader first unless they
  // are there; null while another thread is reading them.
  Result<std::shared_ptr<const LatinNames>> load_latin_names(Connection& reader);
  // Keeps the names in memory in step with a save of ours.
  void remember_names(const TermEntry& entry);
  // Counts the entries on a reader into count_.
  Result<void> recount();
  // Moves count_ by what a write of ours committed (while it is known).
  void counted_by(std::int64_t delta);

  const std::string path_;  // resolved, as SQLite opens it
  const StoreBounds bounds_;
  std::unique_ptr<Writer> writer_;
  std::unique_ptr<ReaderPool> readers_;
  // The number of entries: counted at open and by refresh(), moved by our
  // own writes as they commit.
  std::atomic<std::int64_t> count_{-1};
  // The writer's PRAGMA data_version as last seen: it moves when another
  // program commits. Read and written with the writer held.
  std::int64_t writer_data_version_ = -1;
  // The short Latin names, for suggestions, shared by every reader.
  std::unique_ptr<LatinCache> latin_;
  // Exports open now, shared with each export so it can count itself out.
  std::shared_ptr<std::atomic<int>> exports_open_;
  std::atomic<bool> damaged_{false};
  std::mutex damage_mutex_;
  std::string damage_detail_;  // guarded by damage_mutex_
};

}  // namespace ruvo::desktop::store
