// The term store: one SQLite file in the application-data folder. The store
// is split by what it does: its schema (schema.cpp), its files (file_safety),
// opening and counting (store.cpp), damage (damage.cpp), reads, writes,
// search, suggestions, and export and import (transfer.cpp).
#pragma once

#include "common/json.hpp"
#include "common/result.hpp"
#include "store/dictionaries.hpp"
#include "store/suggest.hpp"
#include "store/term_file.hpp"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace ruvo::desktop::store {

using common::JsonValue;
using common::Result;

inline constexpr std::string_view kStoreFileName = "ruvo-terms.sqlite3";

// The schema this program writes; PRAGMA user_version holds it.
inline constexpr int kStoreSchemaVersion = 6;

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
  // A dictionary's entry (source kSourceDictionary): its dictionary, named when the read gives
  // the name, and what its article holds besides the fields ("definition", "phonetic").
  std::int64_t dictionary_id = 0;  // 0: the person's, the glossary's or a model's
  std::string dictionary_name;
  std::vector<std::string> see_also;
  std::string html;
};

// The entries a text names, best first (TermStore::entries_named).
struct NamedEntries {
  std::vector<TermEntry> entries;
  bool truncated = false;  // more entries name the text than were given
};

// An entry that a text's entries lead to through a gloss of a bilingual dictionary: 死锁 to
// FOLDOC's deadlock, deadlock to 死锁.
struct RelatedEntry {
  TermEntry entry;  // its fields empty: what a list of related names needs is its name and source
  std::string via;  // the gloss that links them, as the bilingual entry spells it
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
  bool total_exact = true;
  std::vector<TermEntry> terms;
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

// An export in progress: the entries of one snapshot, one at a time.
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

class TermStore;

// A dictionary being added: its entries written in batches of kDictionaryBatch on a connection of
// its own, its row invisible to every read until finish() makes it whole at once. Only one add
// runs at a time for a store file, whichever program runs it.
class DictionaryAdd {
 public:
  class Work;
  explicit DictionaryAdd(std::unique_ptr<Work> work);
  // An add neither finished nor abandoned is abandoned.
  ~DictionaryAdd();
  DictionaryAdd(const DictionaryAdd&) = delete;
  DictionaryAdd& operator=(const DictionaryAdd&) = delete;

  // Stores an article. One of the same headword, spelled exactly the same, already stored for
  // this dictionary takes it in: the texts one after the other with a blank line between, the
  // names, links and phonetics of both. Names are tidied (one line, at most kMaxTermChars: a
  // longer headword is cut there, a longer alias dropped); the text is bounded_article_text.
  Result<void> put(const DictionaryArticle& article);

  // The dictionary's entries so far.
  std::int64_t entries() const;

  // Writes what is left, then in one transaction gives the dictionary the reader's details, its
  // count, the last place in the order and makes it visible. Removes its path from the removed
  // dictionaries. An error leaves the add to be abandoned.
  Result<Dictionary> finish(const DictionaryDetails& details);

  // Takes out what was written, in batches; with `tidy` false only stops, leaving the rows
  // (invisible) to clear_unfinished_dictionaries.
  Result<void> abandon(bool tidy = true);

 private:
  std::unique_ptr<Work> work_;
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
  static Result<std::unique_ptr<TermStore>> open(const std::string& path, const std::vector<TermDraft>& seed);
  // A second connection to the same file, for work long enough that it
  // should not hold this store's lock (an import through the service): it
  // reads and writes beside this one as SQLite in WAL mode allows. The file
  // was checked and migrated when this store opened it; a damaged store
  // gives none.
  Result<std::unique_ptr<TermStore>> open_another();

  ~TermStore();
  TermStore(const TermStore&) = delete;
  TermStore& operator=(const TermStore&) = delete;

  // Number of stored entries that are no dictionary's.
  Result<std::int64_t> count();

  // The entry whose term has the same key in exactly this language, else
  // one that has it among its aliases.
  Result<std::optional<TermEntry>> find(std::string_view term, std::string_view lang);

  // The entry whose term has the same key in any language, one in
  // `preferred_lang` first, else the most recently updated one; failing
  // that, the same among entries that have it as an alias.
  Result<std::optional<TermEntry>> find_any(std::string_view term, std::string_view preferred_lang);

  // Hands every entry that is no dictionary's to `each` in the order they were added, from one
  // snapshot of the store (a save meanwhile is seen whole or not at all).
  Result<void> export_records(const std::function<Result<void>(const TermRecord&)>& each);

  // The entries that are no dictionary's in the order they were added, read from a snapshot taken
  // now on a connection of its own: the store stays free for every other
  // request while the export is read, however slowly. Safe to call from
  // any thread; the export itself is used by one thread at a time.
  Result<TermExport> open_export();

  // Stores the records in one transaction, all or nothing: an entry of the
  // same term (by key), language and source is updated (its term, fields,
  // aliases and source replaced, its times taken from the record when it has
  // them), and so is a model's answer that a person's or the glossary's
  // record meets; any other is added, so a person's record stands beside the
  // glossary's entry of the same name rather than replacing it. A record
  // whose source is "model" never replaces an entry a person saved or the
  // glossary gave. Dictionaries' entries are never touched.
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
  // index, in one transaction; false when there was none (a dictionary's
  // entries are not deleted one by one: they go with their dictionary).
  Result<bool> remove(std::int64_t id);

  // Entries whose term, aliases or fields hold every word of `query` (a
  // Latin word as the start of one, Chinese characters as a run), the
  // entry named by the query itself first, then the best matches; with a
  // blank query every entry, the most recently updated first.
  Result<TermPage> search(std::string_view query, int limit, int offset);

  // Up to `limit` stored terms a missed text may have meant, best first:
  // names (terms and aliases) the text begins, then short Latin names a
  // few edits away, then names sharing most of a Chinese text's characters.
  // Empty when nothing is near.
  Result<std::vector<std::string>> suggest(std::string_view text, std::size_t limit = 5);

  // Counts a text the store did not hold (by its key; the spelling kept is
  // the latest), keeping the kMaxMisses most recent texts.
  Result<void> record_miss(std::string_view text);

  // The misses, most frequent first, then the most recent.
  Result<std::vector<Miss>> misses(int limit);

  // Stores the draft in one transaction: a new entry for a new (key, lang,
  // source) among the entries that are no dictionary's (a person's save of a
  // glossary term starts from the glossary entry's fields and aliases, and
  // leaves that entry as it is); else — the entry of the draft's source, or a
  // model's answer, which a person's save takes over — the given fields
  // replace those of the same name, a blank one removes its field, the others
  // stay, and the term takes the spelling just given.
  // Aliases given replace the stored ones. The entry takes the draft's
  // source, and the misses of its names are forgotten. Returns the entry as stored. Safe to
  // call from several threads.
  Result<TermEntry> save(const TermDraft& draft);

  // Stores the draft as a new entry only when no entry of the same (key,
  // lang) exists but dictionaries', in one transaction, so an answer that arrives late never
  // replaces what someone saved meanwhile. Returns the new entry, or nothing
  // when an entry was already there (it is left untouched).
  Result<std::optional<TermEntry>> save_if_absent(const TermDraft& draft);

  // ---- Dictionaries (dictionary_list.cpp, dictionary_add.cpp, dictionary_purge.cpp) ----

  // The dictionaries added whole, in the person's order.
  Result<std::vector<Dictionary>> dictionaries();
  // One of them, or nothing (none by that id, or one being added or removed).
  Result<std::optional<Dictionary>> dictionary(std::int64_t id);
  // The enabled ones and their entries.
  Result<DictionaryCounts> dictionary_counts();
  // Applies the change in one transaction; a new position moves the dictionary there and the
  // others around it, keeping the order dense. Nothing when there is no such dictionary; an
  // error of the kind kBadInput for a blank name.
  Result<std::optional<Dictionary>> change_dictionary(std::int64_t id, const DictionaryChange& change);
  // Removes a dictionary: at once invisible to every read and out of the order, and its path among
  // the removed ones (removed_dictionary_paths); then its entries are deleted in batches of
  // kDictionaryBatch, each a transaction of its own, so saves get the writer between them. What a
  // crash leaves is cleared by clear_unfinished_dictionaries. Nothing when there is no such
  // dictionary.
  Result<std::optional<Dictionary>> remove_dictionary(std::int64_t id);
  // The paths of the dictionaries the person removed, which are never added again by themselves.
  Result<std::vector<std::string>> removed_dictionary_paths();
  // Whether the system's dictionaries are still to be offered to this store (kSystemDictionariesFact),
  // and the mark that they were.
  Result<bool> system_dictionaries_pending();
  Result<void> mark_system_dictionaries_offered();

  // Begins adding a dictionary, on a connection of its own: the row is made (invisible) and the
  // add may put its articles. kBusy when another add of this store file is under way (in this
  // process or another); a damaged store refuses.
  Result<std::unique_ptr<DictionaryAdd>> begin_dictionary(const DictionarySource& source);
  // Deletes what adds and removals cut off by a crash left behind (rows not "ready", entries of
  // no dictionary), in batches. Does nothing while an add is under way.
  Result<void> clear_unfinished_dictionaries();

  // ---- Entries from every source (entries_named.cpp) ----

  // Every usable entry whose term or alias has the key of `text`, best first: in
  // `preferred_lang` first; then the person's, the glossary's, the dictionaries' in the person's
  // order, model answers; within one source a name before an alias, the exact spelling of the
  // text before other cases, the most recent first. At most `most` entries, and as many as fit in
  // about `most_bytes` of fields (the first always); `truncated` when more were there.
  Result<NamedEntries> entries_named(std::string_view text, std::string_view preferred_lang, std::size_t most,
                                     std::size_t most_bytes);
  // Up to `most` usable entries the given ones lead to through glosses (RelatedEntry), none of
  // them among `entries`: the names a bilingual entry's glosses are, and the bilingual entries
  // that have one of `entries`' names (the key of `text` among them) as a gloss.
  Result<std::vector<RelatedEntry>> related_entries(std::string_view text, const std::vector<TermEntry>& entries,
                                                    std::size_t most);

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
  // suggest() with mutex_ held.
  Result<std::vector<std::string>> suggest_locked(std::string_view text, std::size_t limit);

  // Passes a method's result on, marking the store damaged first when its
  // statements met a damaged file (an error of the kind kStoreDamaged, with
  // SQLite's words as its reason). Every method that runs statements returns
  // through it, with mutex_ held.
  template <typename T>
  Result<T> noted(Result<T> result) {
    if (!result.ok() && result.error().kind == common::ErrorKind::kStoreDamaged) mark_damaged(result.error().reason);
    return result;
  }

  // Runs PRAGMA quick_check and marks the store damaged when it fails.
  void quick_check();
  // Sets damaged_, keeping `detail` if it is the first damage seen. Call
  // with mutex_ held (or before the store is shared).
  void mark_damaged(const std::string& detail);
  // The refusal of a write into a damaged store.
  static common::Error damaged_refusal();

  friend class DictionaryAdd;
  // remove_dictionary's first step: the dictionary made invisible and taken out of the order.
  Result<std::optional<Dictionary>> hide_dictionary(std::int64_t id);
  // The file this connection is on.
  std::string file_path();
  // Gives every entry of `entries` that is a dictionary's its dictionary's name. mutex_ held.
  Result<void> name_dictionaries(std::vector<TermEntry>& entries);

  explicit TermStore(sqlite3* db) : db_(db) {}
  static Result<std::unique_ptr<TermStore>> connect(const std::string& path);
  // Keeps the in-memory names in step with a save of ours. mutex_ held.
  void remember_names(const TermEntry& entry);
  // Loads the short Latin names, or loads them again when another
  // connection wrote the file since. mutex_ held.
  Result<void> load_latin_names();
  // The prepared statement for `sql`, kept for the store's life: the reads
  // run on every request, and preparing them each time cost more than
  // running them. Call with mutex_ held; nothing when it cannot be prepared.
  sqlite3_stmt* kept_statement(const char* sql);

  std::mutex mutex_;  // one connection, shared by the server's threads
  sqlite3* db_ = nullptr;
  std::map<std::string, sqlite3_stmt*, std::less<>> kept_;
  std::atomic<bool> damaged_{false};
  bool vocabulary_ready_ = false;  // temp.terms_vocab made on this connection; mutex_ held
  // The short Latin names, for suggestions: loaded on the first miss,
  // reloaded when another connection has written the file since.
  std::unique_ptr<LatinNames> latin_;
  std::int64_t latin_data_version_ = -1;
  // The number of entries as last counted, and the data_version it was
  // counted at; -1: count again. mutex_ held.
  std::int64_t counted_ = -1;
  std::int64_t counted_version_ = -1;
  std::string damage_detail_;  // guarded by mutex_
};

}  // namespace ruvo::desktop::store
