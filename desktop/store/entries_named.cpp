// The entries a text names, from every usable source, in the order answers give them; and the
// entries they lead to across languages through a bilingual dictionary's glosses.
#include "common/utf8.hpp"
#include "store/connection_pool.hpp"
#include "store/dictionary_rows.hpp"
#include "store/match_key.hpp"
#include "store/packed.hpp"
#include "store/rows.hpp"
#include "store/sql.hpp"
#include "store/store.hpp"

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace ruvo::desktop::store {

namespace {

// The most rows a text's names are read from: far more than any text names.
constexpr int kMostCandidates = 500;

// A row that names the text, before it is unpacked.
struct Candidate {
  std::int64_t id = 0;
  std::string term, lang, category_id, fields, source, aliases;
  std::int64_t updated_at = 0;
  std::int64_t dictionary_id = 0;
  std::string packed;
  std::int64_t position = 0;
  bool by_alias = false;
};

int source_rank(const std::string& source) {
  if (source == kSourceGlossary) return 1;
  if (source == kSourceDictionary) return 2;
  if (source == kSourceModel) return 3;
  return 0;  // the person's
}

// The columns every statement here reads, from `terms t` and `dictionaries d`.
constexpr const char* kColumns =
    "SELECT t.id, t.term, t.lang, t.category_id, t.fields, t.source, t.aliases, t.updated_at,"
    " COALESCE(t.dictionary_id, 0), t.packed, COALESCE(d.position, 0) ";

Candidate candidate_from_row(const Statement& st, bool by_alias) {
  Candidate c;
  c.id = st.integer(0);
  c.term = st.text(1);
  c.lang = st.text(2);
  c.category_id = st.text(3);
  c.fields = st.text(4);
  c.source = st.text(5);
  c.aliases = st.text(6);
  c.updated_at = st.integer(7);
  c.dictionary_id = st.integer(8);
  c.packed = std::string(st.blob(9));
  c.position = st.integer(10);
  c.by_alias = by_alias;
  return c;
}

TermEntry entry_of(Candidate&& c) {
  TermEntry entry;
  entry.id = std::to_string(c.id);
  entry.term = std::move(c.term);
  entry.lang = std::move(c.lang);
  entry.category_id = std::move(c.category_id);
  entry.source = std::move(c.source);
  entry.aliases = read_aliases(c.aliases);
  entry.updated_at = c.updated_at;
  entry.dictionary_id = c.dictionary_id;
  if (c.dictionary_id != 0) {
    Unpacked article = unpack(c.packed);
    entry.fields = std::move(article.fields);
    entry.see_also = std::move(article.see_also);
    entry.html = std::move(article.html);
  } else {
    entry.fields = read_fields(c.fields);
  }
  return entry;
}

// The usable rows whose term, or one of whose aliases, has `key`.
Result<std::vector<Candidate>> candidates(sqlite3* db, sqlite3_stmt* by_name, sqlite3_stmt* by_alias,
                                          const std::string& key) {
  std::vector<Candidate> out;
  for (auto [prepared, alias] : {std::pair{by_name, false}, std::pair{by_alias, true}}) {
    Statement st(prepared);
    if (!st.ok()) return sqlite_error(db, "prepare lookup");
    st.bind(1, key);
    st.bind(2, static_cast<std::int64_t>(kMostCandidates));
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) out.push_back(candidate_from_row(st, alias));
    if (rc != SQLITE_DONE) return sqlite_error(db, "lookup");
  }
  return out;
}

const std::string& by_name_sql() {
  static const std::string sql = std::string(kColumns) +
                                 "FROM terms t LEFT JOIN dictionaries d ON d.id = t.dictionary_id "
                                 "WHERE t.term_key = ?1 AND " +
                                 usable_term_sql("t") + " LIMIT ?2";
  return sql;
}

const std::string& by_alias_sql() {
  static const std::string sql = std::string(kColumns) +
                                 "FROM term_aliases a JOIN terms t ON t.id = a.term_id "
                                 "LEFT JOIN dictionaries d ON d.id = t.dictionary_id WHERE a.alias_key = ?1 AND " +
                                 usable_term_sql("t") + " LIMIT ?2";
  return sql;
}

// The definition's lines: a bilingual entry's senses.
std::vector<std::string> definition_lines(const TermEntry& entry) {
  std::vector<std::string> lines;
  auto it = entry.fields.find("definition");
  if (it == entry.fields.end() || !it->is_string()) return lines;
  const std::string& text = it->get_ref<const std::string&>();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    if (end > start) lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

}  // namespace

Result<NamedEntries> TermStore::entries_named(std::string_view text, std::string_view preferred_lang, std::size_t most,
                                              std::size_t most_bytes) {
  NamedEntries named;
  const std::string key = term_key(text);
  if (key.empty() || most == 0) return named;
  auto reader = readers_->lease();
  if (!reader) return reader.error();
  Connection& db = **reader;
  auto found = noted(candidates(db.db(), db.kept(by_name_sql().c_str()), db.kept(by_alias_sql().c_str()), key));
  if (!found) return found.error();
  std::vector<Candidate>& all = *found;
  const std::string exact(common::trim_unicode_space(text));
  auto order = [&](const Candidate& c) {
    return std::make_tuple(c.lang != preferred_lang, source_rank(c.source), c.position, c.by_alias, c.term != exact,
                           -c.updated_at, -c.id);
  };
  std::stable_sort(all.begin(), all.end(), [&](const Candidate& a, const Candidate& b) { return order(a) < order(b); });
  std::set<std::int64_t> seen;
  std::size_t bytes = 0;
  for (auto& c : all) {
    if (!seen.insert(c.id).second) continue;
    if (named.entries.size() == most) {
      named.truncated = true;
      break;
    }
    TermEntry entry = entry_of(std::move(c));
    const std::size_t size = common::to_compact(entry.fields).size();
    if (!named.entries.empty() && bytes + size > most_bytes) {
      named.truncated = true;
      break;
    }
    bytes += size;
    named.entries.push_back(std::move(entry));
  }
  if (auto named_ok = noted(name_dictionaries(db, named.entries)); !named_ok) return named_ok.error();
  return named;
}

Result<std::vector<RelatedEntry>> TermStore::related_entries(std::string_view text,
                                                             const std::vector<TermEntry>& entries, std::size_t most) {
  std::vector<RelatedEntry> related;
  if (most == 0) return related;
  auto reader = readers_->lease();
  if (!reader) return reader.error();
  Connection& db = **reader;
  std::set<std::int64_t> taken;
  for (const auto& entry : entries) taken.insert(std::stoll(entry.id));

  return noted([&]() -> Result<std::vector<RelatedEntry>> {
    // Which dictionaries are bilingual: only their entries have glosses.
    std::set<std::int64_t> glossed;
    {
      Statement st(db.kept("SELECT id FROM dictionaries WHERE format = 'cedict' AND state = 'ready'"));
      if (!st.ok()) return sqlite_error(db.db(), "prepare related");
      int rc;
      while ((rc = st.step()) == SQLITE_ROW) glossed.insert(st.integer(0));
      if (rc != SQLITE_DONE) return sqlite_error(db.db(), "related");
    }
    if (glossed.empty()) return related;
    auto take = [&](std::vector<Candidate> found, const std::string& via) {
      std::stable_sort(found.begin(), found.end(), [](const Candidate& a, const Candidate& b) {
        return std::make_tuple(source_rank(a.source), a.position, a.by_alias, a.id) <
               std::make_tuple(source_rank(b.source), b.position, b.by_alias, b.id);
      });
      for (auto& c : found) {
        if (related.size() == most) return;
        if (!taken.insert(c.id).second) continue;
        c.packed.clear();
        c.fields = "{}";
        TermEntry entry = entry_of(std::move(c));
        entry.fields = JsonValue::object();
        related.push_back(RelatedEntry{std::move(entry), via});
      }
    };

    // The names a bilingual entry's glosses are: 死锁 to deadlock.
    for (const auto& entry : entries) {
      if (entry.dictionary_id == 0 || glossed.count(entry.dictionary_id) == 0) continue;
      for (const auto& gloss : glosses_of(definition_lines(entry))) {
        if (related.size() == most) break;
        auto found =
            candidates(db.db(), db.kept(by_name_sql().c_str()), db.kept(by_alias_sql().c_str()), term_key(gloss));
        if (!found) return found.error();
        take(std::move(found).value(), gloss);
      }
    }

    // The bilingual entries that have the text, or an entry's name, as a gloss: deadlock to 死锁.
    std::vector<std::string> keys{term_key(text)};
    for (const auto& entry : entries) {
      const std::string key = term_key(entry.term);
      if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
    }
    static const std::string sql = std::string(kColumns) +
                                   "FROM glosses g JOIN terms t ON t.id = g.term_id "
                                   "LEFT JOIN dictionaries d ON d.id = t.dictionary_id WHERE g.gloss_key = ?1 AND " +
                                   usable_term_sql("t") + " LIMIT ?2";
    for (const auto& key : keys) {
      if (related.size() == most) break;
      std::vector<Candidate> found;
      {
        Statement st(db.kept(sql.c_str()));
        if (!st.ok()) return sqlite_error(db.db(), "prepare related");
        st.bind(1, key);
        st.bind(2, static_cast<std::int64_t>(most * 4));
        int rc;
        while ((rc = st.step()) == SQLITE_ROW) found.push_back(candidate_from_row(st, false));
        if (rc != SQLITE_DONE) return sqlite_error(db.db(), "related");
      }
      for (auto& c : found) {
        if (related.size() == most) break;
        if (taken.count(c.id) != 0) continue;
        // The gloss as the entry spells it.
        TermEntry full = entry_of(Candidate(c));
        std::string via = key;
        for (const auto& gloss : glosses_of(definition_lines(full))) {
          if (term_key(gloss) == key) {
            via = gloss;
            break;
          }
        }
        take({std::move(c)}, via);
      }
    }
    std::vector<TermEntry> named;
    for (auto& r : related) named.push_back(r.entry);
    if (auto done = name_dictionaries(db, named); !done) return done.error();
    for (std::size_t i = 0; i < related.size(); ++i) related[i].entry.dictionary_name = named[i].dictionary_name;
    return related;
  }());
}

}  // namespace ruvo::desktop::store
