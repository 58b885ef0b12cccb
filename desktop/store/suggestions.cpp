// Suggestions for a text the store does not hold: the stored names it may
// have meant, found through the key indexes, the short Latin names in memory
// and the search index, ranked by suggest.hpp.
#include "common/utf8.hpp"
#include "store/dictionaries.hpp"
#include "store/sql.hpp"
#include "store/store.hpp"
#include "store/suggest.hpp"

#include <set>
#include <string>
#include <vector>

namespace ruvo::desktop::store {

Result<std::vector<std::string>> TermStore::suggest(std::string_view text, std::size_t limit) {
  std::lock_guard<std::mutex> guard(mutex_);
  return noted(suggest_locked(text, limit));
}

Result<std::vector<std::string>> TermStore::suggest_locked(std::string_view text, std::size_t limit) {
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
  // The usable entries only: a disabled dictionary's names are offered no more than its entries.
  static const std::string by_term = "SELECT id, term_key FROM terms WHERE term_key > ?1 AND term_key < ?2 AND " +
                                     usable_term_sql() + " ORDER BY length(term_key) LIMIT 50";
  static const std::string by_alias =
      "SELECT a.term_id, a.alias_key FROM term_aliases a JOIN terms t ON t.id = a.term_id "
      "WHERE a.alias_key > ?1 AND a.alias_key < ?2 AND " +
      usable_term_sql("t") + " ORDER BY length(a.alias_key) LIMIT 50";
  for (const std::string* sql : {&by_term, &by_alias}) {
    Statement prefix(kept_statement(sql->c_str()));
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
    // Names sharing characters with the text, found through the search
    // index (each character is a word of its own there), up to a bound per
    // character, so a character no name holds costs a lookup, not a scan.
    std::set<std::string> characters;
    for (std::size_t pos = 0; pos < key.size();) {
      auto step = common::decode_utf8(key, pos);
      if (step.valid && step.scalar >= 0x80 && !common::is_unicode_space(step.scalar)) {
        characters.insert(key.substr(pos, step.length));
      }
      pos += step.length;
    }
    // The dictionaries' names have an index of their own, which holds nothing but names.
    static const std::string dictionary_sharing =
        "SELECT t.id, t.term_key FROM terms t JOIN (SELECT rowid AS id FROM dictionary_names_fts "
        "WHERE dictionary_names_fts MATCH ?1 LIMIT 200) f ON f.id = t.id WHERE " +
        usable_term_sql("t");
    const struct {
      const char* sql;
      bool names_only;
    } indexes[] = {
        {"SELECT t.id, t.term_key FROM terms t JOIN (SELECT rowid AS id FROM terms_fts WHERE terms_fts MATCH ?1 "
         "LIMIT 200) f ON f.id = t.id",
         false},
        {dictionary_sharing.c_str(), true}};
    for (const auto& character : characters) {
      for (const auto& index : indexes) {
        Statement sharing(kept_statement(index.sql));
        Statement aliases(kept_statement("SELECT alias_key FROM term_aliases WHERE term_id = ?1"));
        if (!sharing.ok() || !aliases.ok()) return sqlite_error(db_, "prepare suggestions");
        std::string quoted = "\"" + character + "\"";
        sharing.bind(1, index.names_only ? quoted : "{term aliases} : " + quoted);
        int rc;
        while ((rc = sharing.step()) == SQLITE_ROW) {
          const std::int64_t id = sharing.integer(0);
          consider(id, sharing.text(1));
          aliases.bind(1, id);
          int arc;
          while ((arc = aliases.step()) == SQLITE_ROW) consider(id, aliases.text(0));
          if (arc != SQLITE_DONE) return sqlite_error(db_, "suggestions");
          aliases.reset();
        }
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

}  // namespace ruvo::desktop::store
