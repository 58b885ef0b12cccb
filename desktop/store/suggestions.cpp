// Suggestions for a text the store does not hold: the stored names it may
// have meant, found through the key indexes, the short Latin names in memory
// and the search index, ranked by suggest.hpp. Every step is bounded: the
// text's length, the rows read, the characters looked up, and the time.
#include "common/utf8.hpp"
#include "store/connection_pool.hpp"
#include "store/entry_rules.hpp"
#include "store/latin_cache.hpp"
#include "store/sql.hpp"
#include "store/sqlite_connection.hpp"
#include "store/store.hpp"
#include "store/suggest.hpp"

#include <algorithm>
#include <set>
#include <string>
#include <vector>

namespace ruvo::desktop::store {

namespace {

// Names beginning with the text read from each key index, in key order, of
// which the shortest are considered. A text of a letter or two begins
// nearly every name; past this many the shortest of those read stand for
// the rest.
constexpr int kPrefixRowsRead = 2000;
constexpr std::size_t kPrefixNamesKept = 50;

// The distinct characters of a key that are not Latin, in the order the
// text has them, at most kMaxSuggestCharacters.
std::vector<std::string> looked_up_characters(const std::string& key) {
  std::vector<std::string> out;
  std::set<std::string> seen;
  for (std::size_t pos = 0; pos < key.size() && out.size() < kMaxSuggestCharacters;) {
    auto step = common::decode_utf8(key, pos);
    if (step.valid && step.scalar >= 0x80 && !common::is_unicode_space(step.scalar)) {
      std::string character = key.substr(pos, step.length);
      if (seen.insert(character).second) out.push_back(std::move(character));
    }
    pos += step.length;
  }
  return out;
}

}  // namespace

Result<std::vector<std::string>> TermStore::suggest(std::string_view text, std::size_t limit) {
  auto reader = readers_->lease();
  if (!reader) return reader.error();
  return noted(suggest_on(**reader, text, limit));
}

Result<std::vector<std::string>> TermStore::suggest_on(Connection& reader, std::string_view text, std::size_t limit) {
  sqlite3* db = reader.db();
  // No stored name is longer than this, so no more of the text can be near one.
  const std::string key = term_key(common::first_scalars(common::trim_unicode_space(text), kMaxTermChars));
  std::vector<std::string> out;
  if (key.empty() || limit == 0) return out;
  // The names in memory are loaded before the clock starts: once per
  // store, and ahead of any suggestion in the service (refresh()).
  std::shared_ptr<const LatinNames> latin;
  if (is_short_latin(key)) {
    auto loaded = load_latin_names(reader);
    if (!loaded) return loaded.error();
    latin = std::move(loaded).value();
  }

  Budget budget(reader, bounds_.suggest_budget);
  std::vector<NearName> near;
  auto consider = [&](std::int64_t id, const std::string& name) {
    Nearness n = nearness(key, name);
    if (n.tier >= 0) near.push_back(NearName{id, name, n});
  };
  // A statement the budget cut short gives what it had read.
  auto finished = [&](int rc) { return rc == SQLITE_DONE || (rc == SQLITE_INTERRUPT && budget.ran_out()); };

  // Names the text begins: a range of the key indexes. Past every UTF-8
  // sequence, so the range holds exactly the keys that start with `key`.
  const std::string past = key + "\xF4\x90\x80\x80";
  for (const char* sql : {"SELECT id, term_key FROM terms WHERE term_key > ?1 AND term_key < ?2 "
                          "ORDER BY term_key LIMIT ?3",
                          "SELECT term_id, alias_key FROM term_aliases WHERE alias_key > ?1 AND alias_key < ?2 "
                          "ORDER BY alias_key LIMIT ?3"}) {
    if (budget.ran_out()) break;
    Statement prefix(reader.kept(sql));
    if (!prefix.ok()) return sqlite_error(db, "prepare suggestions");
    prefix.bind(1, key);
    prefix.bind(2, past);
    prefix.bind(3, static_cast<std::int64_t>(kPrefixRowsRead));
    std::vector<std::pair<std::int64_t, std::string>> begun;
    int rc;
    while ((rc = prefix.step()) == SQLITE_ROW) begun.emplace_back(prefix.integer(0), prefix.text(1));
    if (!finished(rc)) return sqlite_error(db, "suggestions");
    std::stable_sort(begun.begin(), begun.end(),
                     [](const auto& a, const auto& b) { return a.second.size() < b.second.size(); });
    if (begun.size() > kPrefixNamesKept) begun.resize(kPrefixNamesKept);
    for (const auto& [id, name] : begun) consider(id, name);
  }

  if (latin) {
    for (auto& name : latin->near(key, budget.deadline())) near.push_back(std::move(name));
  } else if (!is_short_latin(key)) {
    // Names sharing characters with the text, found through the search
    // index (each character is a word of its own there), up to a bound per
    // character, so a character no name holds costs a lookup, not a scan.
    for (const auto& character : looked_up_characters(key)) {
      if (budget.ran_out()) break;
      Statement sharing(reader.kept(
          "SELECT t.id, t.term_key FROM terms t JOIN (SELECT rowid AS id FROM terms_fts WHERE terms_fts MATCH ?1 "
          "LIMIT 200) f ON f.id = t.id"));
      Statement aliases(reader.kept("SELECT alias_key FROM term_aliases WHERE term_id = ?1"));
      if (!sharing.ok() || !aliases.ok()) return sqlite_error(db, "prepare suggestions");
      std::string quoted = "\"" + character + "\"";
      sharing.bind(1, "{term aliases} : " + quoted);
      int rc;
      while ((rc = sharing.step()) == SQLITE_ROW) {
        const std::int64_t id = sharing.integer(0);
        consider(id, sharing.text(1));
        aliases.bind(1, id);
        int arc;
        while ((arc = aliases.step()) == SQLITE_ROW) consider(id, aliases.text(0));
        if (!finished(arc)) return sqlite_error(db, "suggestions");
        aliases.reset();
        if (arc != SQLITE_DONE) break;
      }
      if (!finished(rc)) return sqlite_error(db, "suggestions");
    }
  }

  // The few names chosen are spelled as their entries are, whatever the
  // time: a handful of lookups by id.
  budget.lift();
  for (const auto& name : best_names(std::move(near), limit)) {
    Statement term(reader.kept("SELECT term FROM terms WHERE id = ?1"));
    if (!term.ok()) return sqlite_error(db, "prepare suggestions");
    term.bind(1, name.id);
    int rc = term.step();
    if (rc == SQLITE_ROW) {
      std::string spelling = term.text(0);
      bool seen = false;
      for (const auto& given : out) seen = seen || given == spelling;
      if (!seen) out.push_back(std::move(spelling));
    } else if (rc != SQLITE_DONE) {
      return sqlite_error(db, "suggestions");
    }
  }
  return out;
}

}  // namespace ruvo::desktop::store
