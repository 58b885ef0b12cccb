// Reading entries: by term, by id, and the misses, each on a reader of its
// own; and the short Latin names read into memory for suggestions.
#include "common/utf8.hpp"
#include "store/connection_pool.hpp"
#include "store/entry_rules.hpp"
#include "store/latin_cache.hpp"
#include "store/rows.hpp"
#include "store/sql.hpp"
#include "store/store.hpp"

#include <sqlite3.h>

#include <string>

namespace ruvo::desktop::store {

namespace {

Result<std::optional<TermEntry>> select_one(sqlite3* db, Statement st, std::string_view key, std::string_view lang) {
  if (!st.ok()) return sqlite_error(db, "prepare lookup");
  st.bind(1, key);
  st.bind(2, lang);
  int rc = st.step();
  if (rc == SQLITE_DONE) return std::optional<TermEntry>();
  if (rc != SQLITE_ROW) return sqlite_error(db, "lookup");
  return std::optional<TermEntry>(entry_from_row(st));
}

// A text longer than a stored name can be names nothing: its key is not
// worth making (a pasted page, say, whose folding costs more than the
// lookup).
bool may_name_an_entry(std::string_view text) {
  std::string_view trimmed = common::trim_unicode_space(text);
  return common::first_scalars(trimmed, kMaxTermChars).size() == trimmed.size();
}

// The entry of this key by term, else by alias, with the two statements
// given (bound ?1 the key, ?2 the language).
Result<std::optional<TermEntry>> find_by(Connection& reader, const std::string& by_term, const std::string& by_alias,
                                         std::string_view text, std::string_view lang) {
  const std::string key = term_key(text);
  auto found = select_one(reader.db(), Statement(reader.kept(by_term.c_str())), key, lang);
  if (!found || *found) return found;
  return select_one(reader.db(), Statement(reader.kept(by_alias.c_str())), key, lang);
}

}  // namespace

Result<std::optional<TermEntry>> TermStore::find(std::string_view term, std::string_view lang) {
  static const std::string sql = std::string(kSelectColumns) + "WHERE term_key = ?1 AND lang = ?2";
  static const std::string by_alias =
      std::string(kSelectColumns) +
      "WHERE id IN (SELECT term_id FROM term_aliases WHERE alias_key = ?1) AND lang = ?2 "
      "ORDER BY updated_at DESC, id DESC LIMIT 1";
  if (!may_name_an_entry(term)) return std::optional<TermEntry>();
  auto reader = readers_->lease();
  if (!reader) return reader.error();
  return noted(find_by(**reader, sql, by_alias, term, lang));
}

Result<std::optional<TermEntry>> TermStore::find_any(std::string_view term, std::string_view preferred_lang) {
  static const std::string sql =
      std::string(kSelectColumns) + "WHERE term_key = ?1 ORDER BY lang = ?2 DESC, updated_at DESC, id DESC LIMIT 1";
  static const std::string by_alias = std::string(kSelectColumns) +
                                      "WHERE id IN (SELECT term_id FROM term_aliases WHERE alias_key = ?1) "
                                      "ORDER BY lang = ?2 DESC, updated_at DESC, id DESC LIMIT 1";
  if (!may_name_an_entry(term)) return std::optional<TermEntry>();
  auto reader = readers_->lease();
  if (!reader) return reader.error();
  return noted(find_by(**reader, sql, by_alias, term, preferred_lang));
}

Result<std::optional<TermEntry>> TermStore::get(std::int64_t id) {
  static const std::string sql = std::string(kSelectColumns) + "WHERE id = ?1";
  auto reader = readers_->lease();
  if (!reader) return reader.error();
  Connection& db = **reader;
  return noted([&]() -> Result<std::optional<TermEntry>> {
    Statement st(db.kept(sql.c_str()));
    if (!st.ok()) return sqlite_error(db.db(), "prepare get");
    st.bind(1, id);
    int rc = st.step();
    if (rc == SQLITE_DONE) return std::optional<TermEntry>();
    if (rc != SQLITE_ROW) return sqlite_error(db.db(), "get");
    return std::optional<TermEntry>(entry_from_row(st));
  }());
}

Result<std::vector<Miss>> TermStore::misses(int limit) {
  auto reader = readers_->lease();
  if (!reader) return reader.error();
  Connection& db = **reader;
  return noted([&]() -> Result<std::vector<Miss>> {
    Statement list(db.kept("SELECT text, count, last_at FROM misses ORDER BY count DESC, last_at DESC LIMIT ?1"));
    if (!list.ok()) return sqlite_error(db.db(), "prepare misses");
    list.bind(1, static_cast<std::int64_t>(limit));
    std::vector<Miss> out;
    int rc;
    while ((rc = list.step()) == SQLITE_ROW) out.push_back(Miss{list.text(0), list.integer(1), list.integer(2)});
    if (rc != SQLITE_DONE) return sqlite_error(db.db(), "misses");
    return out;
  }());
}

Result<std::shared_ptr<const LatinNames>> TermStore::load_latin_names(Connection& reader) {
  if (!latin_->begin_load()) return latin_->names();
  auto names = std::make_unique<LatinNames>();
  // One statement, one snapshot: begun after begin_load(), so every write
  // committed since is told to the cache as well.
  Statement all(reader.db(), "SELECT id, term_key FROM terms UNION ALL SELECT term_id, alias_key FROM term_aliases");
  int rc = all.ok() ? SQLITE_ROW : SQLITE_ERROR;
  while (all.ok() && (rc = all.step()) == SQLITE_ROW) names->add(all.integer(0), all.text(1));
  if (rc != SQLITE_DONE) {
    latin_->abandon_load();
    return noted(Result<std::shared_ptr<const LatinNames>>(sqlite_error(reader.db(), "names")));
  }
  return latin_->end_load(std::move(names));
}

}  // namespace ruvo::desktop::store
