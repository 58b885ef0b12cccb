// Adding a dictionary: its row made invisible, its articles written in batches on a connection of
// its own (one entry per headword spelling, names in the index of dictionary names, glosses for
// bilingual entries), and the row made whole at the end, or everything taken out again.
#include "common/utf8.hpp"
#include "platform/clock.hpp"
#include "platform/instance_lock.hpp"
#include "store/connection_pool.hpp"
#include "store/dictionary_rows.hpp"
#include "store/entry_rules.hpp"
#include "store/latin_cache.hpp"
#include "store/match_key.hpp"
#include "store/packed.hpp"
#include "store/rows.hpp"
#include "store/sql.hpp"
#include "store/store.hpp"

#include <sqlite3.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ruvo::desktop::store {

namespace {

// A name as an entry keeps it: on one line, trimmed, at most kMaxTermChars characters.
std::string tidy_name(std::string_view given) {
  std::string name;
  for (char c : given) name += (c == '\n' || c == '\r' || c == '\t' || c == '\v' || c == '\f') ? ' ' : c;
  name = std::string(common::trim_unicode_space(name));
  if (!within_term_length(name))
    name = std::string(common::trim_unicode_space(common::first_scalars(name, kMaxTermChars)));
  return name;
}

std::string escaped(std::string_view text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\n':
        out += "<br>";
        break;
      default:
        out += c;
    }
  }
  return out;
}

// The article as HTML: its own, or its text made into some.
std::string html_of(const std::string& html, const std::string& text) { return html.empty() ? escaped(text) : html; }

}  // namespace

class DictionaryAdd::Work {
 public:
  Work(TermStore& owner, platform::InstanceLock held, std::int64_t dictionary)
      : store(&owner), lock(std::move(held)), id(dictionary) {}

  Result<void> put(const DictionaryArticle& article) {
    const std::string headword = tidy_name(article.headword);
    if (headword.empty()) return {};
    const std::string key = term_key(headword);
    std::vector<std::string> names;
    std::set<std::string> spellings{headword};
    for (const auto& given : article.aliases) {
      if (names.size() == kMaxArticleAliases) break;
      std::string name(common::trim_unicode_space(given));
      if (name.empty() || has_line_break(name) || !within_term_length(name)) continue;
      if (spellings.insert(name).second) names.push_back(std::move(name));
    }
    if (auto begun = begin_batch(); !begun) return begun;
    Statement same(kept(kSame));
    if (!same.ok()) return sqlite_error(db, "prepare add dictionary");
    same.bind(1, key);
    same.bind(2, id);
    same.bind(3, headword);
    int rc = same.step();
    if (rc == SQLITE_ROW) {
      const std::int64_t existing = same.integer(0);
      std::vector<std::string> stored_aliases = read_aliases(same.text(1));
      Unpacked stored = unpack(same.blob(2));
      same.reset();
      auto merged = merge(existing, std::move(stored_aliases), std::move(stored), names, article);
      if (!merged) return merged;
    } else {
      same.reset();
      if (rc != SQLITE_DONE) return sqlite_error(db, "add dictionary");
      auto inserted = insert_entry(headword, key, names, article);
      if (!inserted) return inserted;
      ++entries;
    }
    if (auto glossed = add_glosses(article.senses); !glossed) return glossed;
    if (++in_batch >= kDictionaryBatch) return end_batch();
    return {};
  }

  Result<Dictionary> finish(const DictionaryDetails& details) {
    if (auto ended = end_batch(); !ended) return ended.error();
    auto writer = store->writer_->lease_within(kBatchWriterWait);
    if (!writer) return writer.error();
    db = (*writer)->db();
    auto made = in_transaction(db, [&]() -> Result<Dictionary> {
      Statement done(
          db,
          "UPDATE dictionaries SET name = ?1, file_name = ?1, info = ?2, url = ?3, entries = ?4, state = 'ready',"
          " position = (SELECT COALESCE(MAX(position) + 1, 0) FROM dictionaries WHERE state = 'ready') "
          "WHERE id = ?5");
      if (!done.ok()) return sqlite_error(db, "prepare add dictionary");
      done.bind(1, details.name);
      done.bind(2, details.info);
      done.bind(3, details.url);
      done.bind(4, entries);
      done.bind(5, id);
      if (done.step() != SQLITE_DONE) return sqlite_error(db, "add dictionary");
      Statement back(db, "DELETE FROM removed_dictionaries WHERE path = (SELECT path FROM dictionaries WHERE id = ?1)");
      if (!back.ok()) return sqlite_error(db, "prepare add dictionary");
      back.bind(1, id);
      if (back.step() != SQLITE_DONE) return sqlite_error(db, "add dictionary");
      static const std::string read = std::string(kDictionaryColumns) + "WHERE id = ?1";
      Statement row(db, read.c_str());
      if (!row.ok()) return sqlite_error(db, "prepare add dictionary");
      row.bind(1, id);
      if (row.step() != SQLITE_ROW) return sqlite_error(db, "add dictionary");
      return dictionary_from_row(row);
    });
    db = nullptr;
    if (made) {
      // Its names are suggested, and found in texts, from now on.
      store->latin_->drop();
      ++store->names_generation_;
    }
    return made;
  }

  Result<void> abandon(bool tidy) {
    if (in_batch_open) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      in_batch_open = false;
    }
    release();
    if (!tidy) return {};
    return purge_dictionary(*store->writer_, id);
  }

  TermStore* store;
  platform::InstanceLock lock;
  std::int64_t id;
  std::int64_t entries = 0;
  bool settled = false;  // finished or abandoned

 private:
  // A batch takes the one writer for itself; saves get it between two batches.
  Result<void> begin_batch() {
    if (in_batch_open) return {};
    auto writer = store->writer_->lease_within(kBatchWriterWait);
    if (!writer) return writer.error();
    lease.emplace(std::move(writer).value());
    connection = &**lease;
    db = connection->db();
    cache.emplace(db);
    if (auto begun = exec(db, "BEGIN IMMEDIATE"); !begun) {
      release();
      return begun;
    }
    in_batch_open = true;
    in_batch = 0;
    return {};
  }

  Result<void> end_batch() {
    if (!in_batch_open) return {};
    in_batch_open = false;
    auto committed = exec(db, "COMMIT");
    if (!committed) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    release();
    return committed;
  }

  void release() {
    cache.reset();
    lease.reset();
    connection = nullptr;
    db = nullptr;
  }

  sqlite3_stmt* kept(const char* sql) { return connection->kept(sql); }

  static constexpr const char* kSame =
      "SELECT id, aliases, packed FROM terms WHERE term_key = ?1 AND dictionary_id = ?2 AND term = ?3";
  static constexpr const char* kInsert =
      "INSERT INTO terms (term, term_key, lang, category_id, fields, created_at, updated_at, source, aliases,"
      " dictionary_id, packed) VALUES (?1, ?2, ?3, 'term', '{}', ?4, ?4, 'dictionary', ?5, ?6, ?7)";
  static constexpr const char* kUpdate = "UPDATE terms SET aliases = ?1, packed = ?2 WHERE id = ?3";
  static constexpr const char* kIndex = "INSERT INTO dictionary_names_fts (rowid, term, aliases) VALUES (?1, ?2, ?3)";
  static constexpr const char* kUnindex =
      "INSERT INTO dictionary_names_fts (dictionary_names_fts, rowid, term, aliases) VALUES ('delete', ?1, ?2, ?3)";
  static constexpr const char* kAlias = "INSERT OR IGNORE INTO term_aliases (alias_key, term_id) VALUES (?1, ?2)";
  static constexpr const char* kGloss = "INSERT OR IGNORE INTO glosses (gloss_key, term_id) VALUES (?1, ?2)";

  Result<void> step(Statement& st) {
    if (!st.ok()) return sqlite_error(db, "prepare add dictionary");
    const int rc = st.step();
    st.reset();
    if (rc != SQLITE_DONE) return sqlite_error(db, "add dictionary");
    return {};
  }

  Result<void> index_names(Statement&& st, std::int64_t row, const std::string& term, const std::string& aliases_json) {
    st.bind(1, row);
    st.bind(2, index_text(term));
    auto parsed = common::parse_json(aliases_json);
    st.bind(3, parsed ? index_values(*parsed) : std::string());
    return step(st);
  }

  Result<void> add_aliases(std::int64_t row, const std::string& key, const std::vector<std::string>& names) {
    Statement alias(kept(kAlias));
    for (const auto& name : names) {
      const std::string alias_key = term_key(name);
      if (alias_key == key || alias_key.empty()) continue;
      alias.bind(1, alias_key);
      alias.bind(2, row);
      if (auto done = step(alias); !done) return done;
    }
    return {};
  }

  Result<void> insert_entry(const std::string& headword, const std::string& key, const std::vector<std::string>& names,
                            const DictionaryArticle& article) {
    Unpacked packed;
    packed.fields["definition"] = bounded_article_text(article.text);
    if (!article.phonetic.empty()) packed.fields["phonetic"] = article.phonetic;
    packed.see_also = article.see_also;
    packed.html = article.html;
    const std::string aliases_json = common::to_compact(JsonValue(names));
    Statement insert(kept(kInsert));
    if (!insert.ok()) return sqlite_error(db, "prepare add dictionary");
    insert.bind(1, headword);
    insert.bind(2, key);
    insert.bind(3, article.lang == "zh" ? std::string("zh") : std::string("en"));
    insert.bind(4, now);
    insert.bind(5, aliases_json);
    insert.bind(6, id);
    const std::string bytes = packer.pack(packed);
    insert.bind_blob(7, bytes);
    if (auto done = step(insert); !done) return done;
    last_row = sqlite3_last_insert_rowid(db);
    if (auto done = index_names(Statement(kept(kIndex)), last_row, headword, aliases_json); !done) return done;
    return add_aliases(last_row, key, names);
  }

  // Another article of a headword already stored: joined to it.
  Result<void> merge(std::int64_t row, std::vector<std::string> aliases, Unpacked stored,
                     const std::vector<std::string>& names, const DictionaryArticle& article) {
    Statement term(db, "SELECT term FROM terms WHERE id = ?1");
    if (!term.ok()) return sqlite_error(db, "prepare add dictionary");
    term.bind(1, row);
    if (term.step() != SQLITE_ROW) return sqlite_error(db, "add dictionary");
    const std::string headword = term.text(0);
    const std::string old_aliases = common::to_compact(JsonValue(aliases));
    if (auto out = index_names(Statement(kept(kUnindex)), row, headword, old_aliases); !out) return out;

    std::set<std::string> spellings(aliases.begin(), aliases.end());
    spellings.insert(headword);
    for (const auto& name : names) {
      if (aliases.size() < kMaxArticleAliases && spellings.insert(name).second) aliases.push_back(name);
    }
    const auto text_of = [](const Unpacked& a) {
      auto it = a.fields.find("definition");
      return it != a.fields.end() && it->is_string() ? it->get<std::string>() : std::string();
    };
    const std::string old_text = text_of(stored);
    const std::string joined = old_text + "\n\n" + article.text;
    if (!stored.html.empty() || !article.html.empty()) {
      stored.html = html_of(stored.html, old_text) + "<hr>" + html_of(article.html, article.text);
    }
    stored.fields["definition"] = bounded_article_text(joined);
    if (!article.phonetic.empty()) {
      auto it = stored.fields.find("phonetic");
      const std::string old_phonetic = it != stored.fields.end() && it->is_string() ? it->get<std::string>() : "";
      if (old_phonetic.empty()) {
        stored.fields["phonetic"] = article.phonetic;
      } else if (("/ " + old_phonetic + " /").find("/ " + article.phonetic + " /") == std::string::npos) {
        stored.fields["phonetic"] = old_phonetic + " / " + article.phonetic;
      }
    }
    std::set<std::string> links(stored.see_also.begin(), stored.see_also.end());
    for (const auto& link : article.see_also) {
      if (links.insert(link).second) stored.see_also.push_back(link);
    }
    const std::string new_aliases = common::to_compact(JsonValue(aliases));
    Statement update(kept(kUpdate));
    if (!update.ok()) return sqlite_error(db, "prepare add dictionary");
    update.bind(1, new_aliases);
    const std::string bytes = packer.pack(stored);
    update.bind_blob(2, bytes);
    update.bind(3, row);
    if (auto done = step(update); !done) return done;
    last_row = row;
    if (auto done = index_names(Statement(kept(kIndex)), row, headword, new_aliases); !done) return done;
    return add_aliases(row, term_key(headword), aliases);
  }

  Result<void> add_glosses(const std::vector<std::string>& senses) {
    if (senses.empty()) return {};
    Statement gloss(kept(kGloss));
    for (const auto& text : glosses_of(senses)) {
      const std::string key = term_key(text);
      if (key.empty()) continue;
      gloss.bind(1, key);
      gloss.bind(2, last_row);
      if (auto done = step(gloss); !done) return done;
    }
    return {};
  }

  std::optional<Writer::Lease> lease;  // during a batch
  Connection* connection = nullptr;    // the writer, during a batch
  sqlite3* db = nullptr;
  std::optional<LargerCache> cache;
  Packer packer;
  const std::int64_t now = platform::unix_seconds();
  std::int64_t last_row = 0;
  std::size_t in_batch = 0;
  bool in_batch_open = false;
};

DictionaryAdd::DictionaryAdd(std::unique_ptr<Work> work) : work_(std::move(work)) {}

DictionaryAdd::~DictionaryAdd() {
  if (work_ && !work_->settled) (void)work_->abandon(true);
}

Result<void> DictionaryAdd::put(const DictionaryArticle& article) { return work_->put(article); }

std::int64_t DictionaryAdd::entries() const { return work_->entries; }

Result<Dictionary> DictionaryAdd::finish(const DictionaryDetails& details) {
  auto done = work_->finish(details);
  if (done) work_->settled = true;
  return done;
}

Result<void> DictionaryAdd::abandon(bool tidy) {
  work_->settled = true;
  return work_->abandon(tidy);
}

namespace {

// Clears what crashed adds and removals left: the caller holds the adding lock, so no add of this
// file is under way.
Result<void> clear_unfinished(Writer& writer) {
  std::vector<std::int64_t> ids;
  {
    auto lease = writer.lease_within(kBatchWriterWait);
    if (!lease) return lease.error();
    sqlite3* db = (*lease)->db();
    // A dictionary's row goes after its entries (purge_dictionary), so no entry outlives its row.
    Statement left(db, "SELECT id FROM dictionaries WHERE state != 'ready'");
    if (!left.ok()) return sqlite_error(db, "prepare unfinished dictionaries");
    int rc;
    while ((rc = left.step()) == SQLITE_ROW) ids.push_back(left.integer(0));
    if (rc != SQLITE_DONE) return sqlite_error(db, "unfinished dictionaries");
  }
  for (auto id : ids) {
    if (auto done = purge_dictionary(writer, id); !done) return done;
  }
  return {};
}

}  // namespace

Result<std::unique_ptr<DictionaryAdd>> TermStore::begin_dictionary(const DictionarySource& source) {
  if (damaged()) return damaged_refusal();
  auto locked = platform::try_lock_instance(adding_lock_path(path_));
  if (locked.outcome == platform::LockOutcome::kBusy) {
    return common::failure(common::ErrorKind::kBusy, "正在添加另一本词典，等它添加完再试");
  }
  if (locked.outcome != platform::LockOutcome::kAcquired) return locked.error;
  if (auto cleared = noted(clear_unfinished(*writer_)); !cleared) return cleared.error();
  auto made = [&]() -> Result<std::int64_t> {
    auto writer = writer_->lease();
    if (!writer) return writer.error();
    sqlite3* db = (*writer)->db();
    return noted(in_transaction(db, [&]() -> Result<std::int64_t> {
      Statement row(db,
                    "INSERT INTO dictionaries (name, file_name, format, path, info, url, added_at, state) "
                    "VALUES (?1, ?1, ?2, ?3, '', '', ?4, 'adding')");
      if (!row.ok()) return sqlite_error(db, "prepare add dictionary");
      row.bind(1, source.name);
      row.bind(2, source.format);
      row.bind(3, source.path);
      row.bind(4, platform::unix_seconds());
      if (row.step() != SQLITE_DONE) return sqlite_error(db, "add dictionary");
      return static_cast<std::int64_t>(sqlite3_last_insert_rowid(db));
    }));
  }();
  if (!made) return made.error();
  auto work = std::make_unique<DictionaryAdd::Work>(*this, std::move(locked.lock), *made);
  return std::make_unique<DictionaryAdd>(std::move(work));
}

Result<void> TermStore::clear_unfinished_dictionaries() {
  if (damaged()) return {};
  auto locked = platform::try_lock_instance(adding_lock_path(path_));
  if (locked.outcome == platform::LockOutcome::kBusy) return {};
  if (locked.outcome != platform::LockOutcome::kAcquired) return locked.error;
  return noted(clear_unfinished(*writer_));
}

}  // namespace ruvo::desktop::store
