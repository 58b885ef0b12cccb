// Finding entries: the search over terms, aliases and fields, and the
// suggestions for a text the store does not hold.
#include "common/utf8.hpp"
#include "store/match_key.hpp"
#include "store/store.hpp"
#include "store/store_sql.hpp"
#include "store/suggest.hpp"

#include <algorithm>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ruvo::desktop {

using namespace store_sql;

namespace {

// The index's words that begin with a word, when they are few enough to
// name one by one; nothing when there are more.
using PrefixWords = std::function<std::optional<std::vector<std::string>>(const std::string&)>;

// Most words a prefix is spelled out into. The index answers a prefix
// itself by merging every matching word's whole list before it returns the
// first match, which for a common word costs a fifth of a second; the same
// words named one by one are read only as far as the page needs.
constexpr std::size_t kPrefixWordsAtMost = 64;

// A search as the index takes it: each Latin word a prefix ("promp"
// finds Prompt as it is typed), each run of Chinese characters a phrase
// (检索 inside 检索增强生成), all of them required. Every word is quoted,
// its quotes doubled, so no text becomes syntax of the index. Empty when
// the text has no word at all.
std::string search_expression(std::string_view text, const PrefixWords& prefix_words) {
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
    expression += (expression.empty() ? "" : " AND ") + quoted(phrase);
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
    if (!has_text) continue;
    std::string term = quoted(word) + "*";
    if (auto spelled = prefix_words(word); spelled && !spelled->empty()) {
      term.clear();
      for (const auto& one : *spelled) term += (term.empty() ? "(" : " OR ") + quoted(one);
      term += ")";
    }
    expression += (expression.empty() ? "" : " AND ") + term;
  }
  flush_phrase();
  return expression;
}

// A part of the results with more matches than this is listed newest first
// rather than ranked: bm25 reads every match to rank them, which for a word
// in half of a million entries costs far more than a person waits between
// two keys.
constexpr std::int64_t kRankedAtMost = 2000;

// The names the query is itself: entries whose term or alias has its key
// (bound second, as it is in the statements that take it in).
constexpr const char* kExactIds =
    "SELECT id FROM terms WHERE term_key = ?2 UNION SELECT term_id FROM term_aliases WHERE alias_key = ?2";

}  // namespace

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
    for (const auto& character : characters) {
      Statement sharing(kept_statement(
          "SELECT t.id, t.term_key FROM terms t JOIN (SELECT rowid AS id FROM terms_fts WHERE terms_fts MATCH ?1 "
          "LIMIT 200) f ON f.id = t.id"));
      Statement aliases(kept_statement("SELECT alias_key FROM term_aliases WHERE term_id = ?1"));
      if (!sharing.ok() || !aliases.ok()) return sqlite_error(db_, "prepare suggestions");
      std::string quoted = "\"" + character + "\"";
      sharing.bind(1, "{term aliases} : " + quoted);
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

Result<TermPage> TermStore::search(std::string_view query, int limit, int offset) {
  std::lock_guard<std::mutex> guard(mutex_);
  DamageWatch watch(*this);
  TermPage page;
  auto add_entry = [&](std::int64_t id) -> Result<void> {
    static const std::string sql = std::string(kSelectColumns) + "WHERE id = ?1";
    Statement st(kept_statement(sql.c_str()));
    if (!st.ok()) return sqlite_error(db_, "prepare search");
    st.bind(1, id);
    int rc = st.step();
    if (rc == SQLITE_ROW) page.terms.push_back(entry_from_row(st));
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return sqlite_error(db_, "search");
    return {};
  };
  if (common::is_blank(query)) {
    Statement total(kept_statement("SELECT COUNT(*) FROM terms"));
    if (!total.ok() || total.step() != SQLITE_ROW) return sqlite_error(db_, "search");
    page.total = total.integer(0);
    Statement st(kept_statement("SELECT id FROM terms ORDER BY updated_at DESC, id DESC LIMIT ?1 OFFSET ?2"));
    if (!st.ok()) return sqlite_error(db_, "prepare search");
    st.bind(1, static_cast<std::int64_t>(limit));
    st.bind(2, static_cast<std::int64_t>(offset));
    std::vector<std::int64_t> ids;
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) ids.push_back(st.integer(0));
    if (rc != SQLITE_DONE) return sqlite_error(db_, "search");
    for (auto id : ids) {
      if (auto added = add_entry(id); !added) return added.error();
    }
    return page;
  }
  if (!vocabulary_ready_) {
    // The index's own list of its words, on this connection only.
    if (auto made = exec(db_, "CREATE VIRTUAL TABLE IF NOT EXISTS temp.terms_vocab USING fts5vocab(main, terms_fts, row)");
        !made) {
      return made.error();
    }
    vocabulary_ready_ = true;
  }
  std::optional<Error> failed;
  auto prefix_words = [&](const std::string& word) -> std::optional<std::vector<std::string>> {
    Statement st(kept_statement("SELECT term FROM temp.terms_vocab WHERE term >= ?1 AND term < ?2 LIMIT ?3"));
    if (!st.ok()) {
      failed = sqlite_error(db_, "prepare search");
      return std::nullopt;
    }
    st.bind(1, word);
    st.bind(2, word + "\xF4\x90\x80\x80");
    st.bind(3, static_cast<std::int64_t>(kPrefixWordsAtMost + 1));
    std::vector<std::string> out;
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) out.push_back(st.text(0));
    if (rc != SQLITE_DONE) failed = sqlite_error(db_, "search");
    if (rc != SQLITE_DONE || out.size() > kPrefixWordsAtMost) return std::nullopt;
    return out;
  };
  const std::string expression = search_expression(query, prefix_words);
  if (failed) return *failed;
  if (expression.empty()) return page;
  const std::string key = term_key(query);

  // The results in order: the entries the query names, then those matching
  // it in a term or an alias, then those matching only in their fields.
  // Each part is ranked (a match in the term counts most, then in an alias,
  // then in the fields) when it is small enough, else listed newest first.
  // The names part is read from the index of names alone; the fields part
  // from the whole one, less what matched in its term or alias columns.
  const std::string& in_names = expression;
  const std::string in_fields_only = "(" + expression + ") NOT {term aliases} : (" + expression + ")";
  enum Index { kNames, kAll };

  // Up to one past the bound: reading the index stops there.
  auto count = [&](Index index, const std::string& match) -> Result<std::int64_t> {
    Statement st(kept_statement(index == kNames
                                    ? "SELECT COUNT(*) FROM (SELECT 1 FROM names_fts WHERE names_fts MATCH ?1 LIMIT ?2)"
                                    : "SELECT COUNT(*) FROM (SELECT 1 FROM terms_fts WHERE terms_fts MATCH ?1 LIMIT ?2)"));
    if (!st.ok()) return sqlite_error(db_, "prepare search");
    st.bind(1, match);
    st.bind(2, kSearchCountedAtMost + 1);
    if (st.step() != SQLITE_ROW) return sqlite_error(db_, "search");
    return st.integer(0);
  };
  auto matches = [&](Index index, const std::string& match, std::int64_t id) -> Result<bool> {
    Statement st(kept_statement(index == kNames ? "SELECT 1 FROM names_fts WHERE names_fts MATCH ?1 AND rowid = ?2"
                                                : "SELECT 1 FROM terms_fts WHERE terms_fts MATCH ?1 AND rowid = ?2"));
    if (!st.ok()) return sqlite_error(db_, "prepare search");
    st.bind(1, match);
    st.bind(2, id);
    int rc = st.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) return sqlite_error(db_, "search");
    return rc == SQLITE_ROW;
  };

  std::vector<std::int64_t> exact;
  {
    static const std::string sql = std::string(kExactIds) + " ORDER BY 1 LIMIT 64";
    Statement st(kept_statement(sql.c_str()));
    if (!st.ok()) return sqlite_error(db_, "prepare search");
    st.bind(2, key);
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) exact.push_back(st.integer(0));
    if (rc != SQLITE_DONE) return sqlite_error(db_, "search");
  }
  auto names_total = count(kNames, in_names);
  if (!names_total) return names_total.error();
  auto fields_total = count(kAll, in_fields_only);
  if (!fields_total) return fields_total.error();
  std::int64_t names_size = *names_total;
  std::int64_t fields_size = *fields_total;
  for (auto id : exact) {
    auto in_name = matches(kNames, in_names, id);
    if (!in_name) return in_name.error();
    if (*in_name) {
      --names_size;
      continue;
    }
    auto in_fields = matches(kAll, in_fields_only, id);
    if (!in_fields) return in_fields.error();
    if (*in_fields) --fields_size;
  }
  const std::int64_t named = static_cast<std::int64_t>(exact.size());
  if (*names_total > kSearchCountedAtMost || *fields_total > kSearchCountedAtMost ||
      named + names_size + fields_size > kSearchCountedAtMost) {
    // Past the bound the list is cut there, each part keeping its place.
    page.total_exact = false;
    names_size = std::min(names_size, kSearchCountedAtMost - named);
    fields_size = std::min(fields_size, kSearchCountedAtMost - named - names_size);
  }
  page.total = named + names_size + fields_size;

  // Takes up to `take` ids of a part from position `skip` on.
  std::vector<std::int64_t> ids;
  auto list_part = [&](Index index, const std::string& match, std::int64_t size, std::int64_t skip,
                       std::int64_t take) -> Result<void> {
    auto sql = [](const char* table, const char* order) {
      return std::string("SELECT rowid FROM ") + table + " WHERE " + table + " MATCH ?1 AND rowid NOT IN (" + kExactIds +
             ") ORDER BY " + order + " LIMIT ?3 OFFSET ?4";
    };
    static const std::string names_ranked = sql("names_fts", "bm25(names_fts, 10.0, 5.0), rowid");
    static const std::string all_ranked = sql("terms_fts", "bm25(terms_fts, 10.0, 5.0, 1.0), rowid");
    static const std::string names_newest = sql("names_fts", "rowid DESC");
    static const std::string all_newest = sql("terms_fts", "rowid DESC");
    const bool ranked = size <= kRankedAtMost;
    const std::string& chosen =
        index == kNames ? (ranked ? names_ranked : names_newest) : (ranked ? all_ranked : all_newest);
    Statement st(kept_statement(chosen.c_str()));
    if (!st.ok()) return sqlite_error(db_, "prepare search");
    st.bind(1, match);
    st.bind(2, key);
    st.bind(3, take);
    st.bind(4, skip);
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) ids.push_back(st.integer(0));
    if (rc != SQLITE_DONE) return sqlite_error(db_, "search");
    return {};
  };

  std::int64_t skip = offset;
  std::int64_t wanted = limit;
  for (std::size_t i = 0; i < exact.size() && wanted > 0; ++i) {
    if (skip > 0) {
      --skip;
      continue;
    }
    ids.push_back(exact[i]);
    --wanted;
  }
  const struct {
    Index index;
    const std::string* match;
    std::int64_t size;
  } parts[] = {{kNames, &in_names, names_size}, {kAll, &in_fields_only, fields_size}};
  for (const auto& [index, match, size] : parts) {
    if (wanted <= 0) break;
    if (skip >= size) {
      skip -= size;
      continue;
    }
    const std::int64_t before = static_cast<std::int64_t>(ids.size());
    if (auto listed = list_part(index, *match, size, skip, std::min(wanted, size - skip)); !listed) {
      return listed.error();
    }
    wanted -= static_cast<std::int64_t>(ids.size()) - before;
    skip = 0;
  }
  for (auto id : ids) {
    if (auto added = add_entry(id); !added) return added.error();
  }
  return page;
}

}  // namespace ruvo::desktop
