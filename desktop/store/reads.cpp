// Reading entries: by term, by id, and the misses.
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

}  // namespace

Result<std::optional<TermEntry>> TermStore::find(std::string_view term, std::string_view lang) {
  std::lock_guard<std::mutex> guard(mutex_);
  static const std::string sql =
      std::string(kSelectColumns) + "WHERE term_key = ?1 AND lang = ?2 AND " + usable_term_sql() +
      " ORDER BY dictionary_id IS NOT NULL, source = 'model', source = 'glossary', updated_at DESC, id DESC LIMIT 1";
  static const std::string by_alias =
      std::string(kSelectColumns) +
      "WHERE id IN (SELECT term_id FROM term_aliases WHERE alias_key = ?1) AND lang = ?2 AND " + usable_term_sql() +
      " ORDER BY dictionary_id IS NOT NULL, source = 'model', source = 'glossary', updated_at DESC, id DESC LIMIT 1";
  const std::string key = term_key(term);
  auto found = select_one(db_, Statement(kept_statement(sql.c_str())), key, lang);
  if (!found || *found) return noted(std::move(found));
  return noted(select_one(db_, Statement(kept_statement(by_alias.c_str())), key, lang));
}

Result<std::optional<TermEntry>> TermStore::find_any(std::string_view term, std::string_view preferred_lang) {
  std::lock_guard<std::mutex> guard(mutex_);
  static const std::string sql = std::string(kSelectColumns) + "WHERE term_key = ?1 AND " + usable_term_sql() +
                                 " ORDER BY lang = ?2 DESC, dictionary_id IS NOT NULL, source = 'model', source = "
                                 "'glossary', updated_at DESC, id DESC LIMIT 1";
  static const std::string by_alias = std::string(kSelectColumns) +
                                      "WHERE id IN (SELECT term_id FROM term_aliases WHERE alias_key = ?1) AND " +
                                      usable_term_sql() +
                                      " ORDER BY lang = ?2 DESC, dictionary_id IS NOT NULL, source = 'model', source = "
                                      "'glossary', updated_at DESC, id DESC LIMIT 1";
  const std::string key = term_key(term);
  auto found = select_one(db_, Statement(kept_statement(sql.c_str())), key, preferred_lang);
  if (!found || *found) return noted(std::move(found));
  return noted(select_one(db_, Statement(kept_statement(by_alias.c_str())), key, preferred_lang));
}

Result<std::optional<TermEntry>> TermStore::get(std::int64_t id) {
  std::lock_guard<std::mutex> guard(mutex_);
  static const std::string sql = std::string(kSelectColumns) + "WHERE id = ?1 AND " + usable_term_sql();
  return noted([&]() -> Result<std::optional<TermEntry>> {
    Statement st(kept_statement(sql.c_str()));
    if (!st.ok()) return sqlite_error(db_, "prepare get");
    st.bind(1, id);
    int rc = st.step();
    if (rc == SQLITE_DONE) return std::optional<TermEntry>();
    if (rc != SQLITE_ROW) return sqlite_error(db_, "get");
    std::vector<TermEntry> one{entry_from_row(st)};
    if (auto named = name_dictionaries(one); !named) return named.error();
    return std::optional<TermEntry>(std::move(one.front()));
  }());
}

Result<std::vector<Miss>> TermStore::misses(int limit) {
  std::lock_guard<std::mutex> guard(mutex_);
  return noted([&]() -> Result<std::vector<Miss>> {
    Statement list(
        kept_statement("SELECT text, count, last_at FROM misses ORDER BY count DESC, last_at DESC LIMIT ?1"));
    if (!list.ok()) return sqlite_error(db_, "prepare misses");
    list.bind(1, static_cast<std::int64_t>(limit));
    std::vector<Miss> out;
    int rc;
    while ((rc = list.step()) == SQLITE_ROW) out.push_back(Miss{list.text(0), list.integer(1), list.integer(2)});
    if (rc != SQLITE_DONE) return sqlite_error(db_, "misses");
    return out;
  }());
}

Result<void> TermStore::load_latin_names() {
  Statement version(kept_statement("PRAGMA data_version"));
  if (!version.ok() || version.step() != SQLITE_ROW) return sqlite_error(db_, "PRAGMA data_version");
  const std::int64_t now = version.integer(0);
  if (latin_ && now == latin_data_version_) return {};
  auto names = std::make_unique<LatinNames>();
  static const std::string sql =
      "SELECT id, term_key FROM terms WHERE " + usable_term_sql() +
      " UNION ALL SELECT a.term_id, a.alias_key FROM term_aliases a JOIN terms t ON t.id = a.term_id"
      " WHERE " +
      usable_term_sql("t");
  Statement all(db_, sql.c_str());
  if (!all.ok()) return sqlite_error(db_, "prepare names");
  int rc;
  while ((rc = all.step()) == SQLITE_ROW) names->add(all.integer(0), all.text(1));
  if (rc != SQLITE_DONE) return sqlite_error(db_, "names");
  latin_ = std::move(names);
  latin_data_version_ = now;
  return {};
}

}  // namespace ruvo::desktop::store
