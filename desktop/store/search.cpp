// The search over terms, aliases and fields: the query made into an index
// expression, the matches counted part by part (the entries the query
// names, those it matches by name, those it matches only in their fields,
// the dictionaries' entries it matches by name), and one page of them read
// in that order.
#include "common/utf8.hpp"
#include "store/match_key.hpp"
#include "store/rows.hpp"
#include "store/sql.hpp"
#include "store/store.hpp"

#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace ruvo::desktop::store {

namespace {

// The index's words that begin with a word, when they are few enough to
// name one by one; nothing when there are more.
using PrefixWords = std::function<Result<std::optional<std::vector<std::string>>>(const std::string&)>;

// Most words a prefix is spelled out into. The index answers a prefix
// itself by merging every matching word's whole list before it returns the
// first match, which for a common word costs a fifth of a second; the same
// words named one by one are read only as far as the page needs.
constexpr std::size_t kPrefixWordsAtMost = 64;

// A word as the index takes it literally: quoted, its quotes doubled.
std::string index_word(const std::string& word) {
  std::string out = "\"";
  for (char c : word) {
    out += c;
    if (c == '"') out += '"';
  }
  return out + "\"";
}

bool is_one_cjk(const std::string& word) {
  auto step = common::decode_utf8(word, 0);
  return step.valid && step.length == word.size() && step.scalar >= 0x2E80;
}

// A search as the index takes it: each Latin word a prefix ("promp"
// finds Prompt as it is typed), each run of Chinese characters a phrase
// (检索 inside 检索增强生成), all of them required. Every word is quoted,
// its quotes doubled, so no text becomes syntax of the index. Empty when
// the text has no word at all.
Result<std::string> search_expression(std::string_view text, const PrefixWords& prefix_words) {
  std::string indexed = index_text(text);
  std::vector<std::string> words;
  std::size_t start = 0;
  while (start <= indexed.size()) {
    std::size_t end = indexed.find(' ', start);
    if (end == std::string::npos) end = indexed.size();
    if (end > start) words.push_back(indexed.substr(start, end - start));
    start = end + 1;
  }
  std::string expression;
  std::string phrase;
  auto flush_phrase = [&] {
    if (phrase.empty()) return;
    expression += (expression.empty() ? "" : " AND ") + index_word(phrase);
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
    auto spelled = prefix_words(word);
    if (!spelled) return spelled.error();
    std::string term = index_word(word) + "*";
    if (*spelled && !(*spelled)->empty()) {
      term.clear();
      for (const auto& one : **spelled) term += (term.empty() ? "(" : " OR ") + index_word(one);
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

// The names the query is itself: usable entries whose term or alias has its
// key (bound second, as it is in the statements that take it in).
const std::string& exact_ids() {
  static const std::string sql = "SELECT id FROM terms WHERE term_key = ?2 AND " + usable_term_sql() +
                                 " UNION SELECT a.term_id FROM term_aliases a JOIN terms t ON t.id = a.term_id "
                                 "WHERE a.alias_key = ?2 AND " +
                                 usable_term_sql("t");
  return sql;
}

// The order of sources within a part: the person's, then the glossary's,
// then the model's answers (the dictionaries' have a part of their own).
constexpr const char* kOwnSourceOrder = "CASE t.source WHEN 'glossary' THEN 1 WHEN 'model' THEN 2 ELSE 0 END";

// The indexes a part is read from: the names alone, or everything, of the
// entries that are no dictionary's; the dictionaries' names.
enum class Index { kNames, kAll, kDictionaryNames };

// The parts of a search's results, in the order they are listed.
struct Parts {
  std::string key;                   // the query's match key
  std::string in_names;              // the expression, for the index of names
  std::string in_fields_only;        // the expression less what matched by name, for the whole index
  std::vector<std::int64_t> exact;   // the entries the query names
  std::int64_t names_size = 0;       // matching by name, the named ones aside
  std::int64_t fields_size = 0;      // matching only in their fields, the named ones aside
  std::int64_t dictionary_size = 0;  // dictionaries' entries matching by name, the named ones aside
  bool total_exact = true;
};

// The SQL of a part's queries over one index.
struct IndexSql {
  const char* count;    // ?1 the expression, ?2 the bound
  const char* matches;  // ?1 the expression, ?2 a row id
};

}  // namespace

class TermStore::Search {
 public:
  explicit Search(TermStore& store) : store_(store) {}

  Result<TermPage> run(std::string_view query, int limit, int offset) {
    if (common::is_blank(query)) return recent(limit, offset);
    if (auto made = vocabulary(); !made) return made.error();
    auto expression = search_expression(query, [this](const std::string& word) { return prefix_words(word); });
    if (!expression) return expression.error();
    TermPage page;
    if (expression->empty()) return page;
    auto parts = parts_of(*expression, term_key(query));
    if (!parts) return parts.error();
    page.total = static_cast<std::int64_t>(parts->exact.size()) + parts->names_size + parts->fields_size +
                 parts->dictionary_size;
    page.total_exact = parts->total_exact;
    auto ids = page_ids(*parts, limit, offset);
    if (!ids) return ids.error();
    if (auto added = add_entries(*ids, page); !added) return added.error();
    return page;
  }

 private:
  // The one way this search reads the index: a kept statement run to its
  // end, giving its first column.
  template <typename T = std::int64_t, typename Bind>
  Result<std::vector<T>> column(const char* sql, Bind bind) {
    return first_column<T>(store_.db_, store_.kept_statement(sql), "search", bind);
  }

  // A blank query: every entry, the most recently updated first.
  Result<TermPage> recent(int limit, int offset) {
    TermPage page;
    // The person's own store: the dictionaries' entries are found by searching.
    auto total = column("SELECT COUNT(*) FROM terms WHERE dictionary_id IS NULL", [](Statement&) {});
    if (!total) return total.error();
    page.total = total->empty() ? 0 : total->front();
    auto ids = column(
        "SELECT id FROM terms WHERE dictionary_id IS NULL ORDER BY updated_at DESC, id DESC "
        "LIMIT ?1 OFFSET ?2",
        [&](Statement& st) {
          st.bind(1, static_cast<std::int64_t>(limit));
          st.bind(2, static_cast<std::int64_t>(offset));
        });
    if (!ids) return ids.error();
    if (auto added = add_entries(*ids, page); !added) return added.error();
    return page;
  }

  // The index's own list of its words, made once on this connection.
  Result<void> vocabulary() {
    if (store_.vocabulary_ready_) return {};
    auto made =
        exec(store_.db_, "CREATE VIRTUAL TABLE IF NOT EXISTS temp.terms_vocab USING fts5vocab(main, terms_fts, row)");
    if (!made) return made;
    store_.vocabulary_ready_ = true;
    return {};
  }

  Result<std::optional<std::vector<std::string>>> prefix_words(const std::string& word) {
    auto words = column<std::string>("SELECT term FROM temp.terms_vocab WHERE term >= ?1 AND term < ?2 LIMIT ?3",
                                     [&](Statement& st) {
                                       st.bind(1, word);
                                       st.bind(2, word + "\xF4\x90\x80\x80");
                                       st.bind(3, static_cast<std::int64_t>(kPrefixWordsAtMost + 1));
                                     });
    if (!words) return words.error();
    if (words->size() > kPrefixWordsAtMost) return std::optional<std::vector<std::string>>();
    return std::optional<std::vector<std::string>>(std::move(words).value());
  }

  static const IndexSql& index_sql(Index index) {
    static const IndexSql names{"SELECT COUNT(*) FROM (SELECT 1 FROM names_fts WHERE names_fts MATCH ?1 LIMIT ?2)",
                                "SELECT 1 FROM names_fts WHERE names_fts MATCH ?1 AND rowid = ?2"};
    static const IndexSql all{"SELECT COUNT(*) FROM (SELECT 1 FROM terms_fts WHERE terms_fts MATCH ?1 LIMIT ?2)",
                              "SELECT 1 FROM terms_fts WHERE terms_fts MATCH ?1 AND rowid = ?2"};
    // Only the usable dictionaries' entries: one being added, or disabled, is in the index too.
    static const std::string count_usable =
        "SELECT COUNT(*) FROM (SELECT 1 FROM dictionary_names_fts JOIN terms t ON t.id = dictionary_names_fts.rowid "
        "WHERE dictionary_names_fts MATCH ?1 AND " +
        usable_term_sql("t") + " LIMIT ?2)";
    static const std::string matches_usable =
        "SELECT 1 FROM dictionary_names_fts JOIN terms t ON t.id = dictionary_names_fts.rowid "
        "WHERE dictionary_names_fts MATCH ?1 AND dictionary_names_fts.rowid = ?2 AND " +
        usable_term_sql("t");
    static const IndexSql dictionaries{count_usable.c_str(), matches_usable.c_str()};
    switch (index) {
      case Index::kNames:
        return names;
      case Index::kAll:
        return all;
      case Index::kDictionaryNames:
        break;
    }
    return dictionaries;
  }

  // Matches of an index, up to one past the bound: reading the index stops
  // there.
  Result<std::int64_t> count(Index index, const std::string& match) {
    auto counted = column(index_sql(index).count, [&](Statement& st) {
      st.bind(1, match);
      st.bind(2, kSearchCountedAtMost + 1);
    });
    if (!counted) return counted.error();
    return counted->empty() ? 0 : counted->front();
  }

  Result<bool> matches(Index index, const std::string& match, std::int64_t id) {
    auto found = column(index_sql(index).matches, [&](Statement& st) {
      st.bind(1, match);
      st.bind(2, id);
    });
    if (!found) return found.error();
    return !found->empty();
  }

  // The results in order: the entries the query names, then those matching
  // it in a term or an alias, then those matching only in their fields.
  // Each part is ranked (a match in the term counts most, then in an alias,
  // then in the fields) when it is small enough, else listed newest first.
  // The names part is read from the index of names alone; the fields part
  // from the whole one, less what matched in its term or alias columns.
  Result<Parts> parts_of(const std::string& expression, std::string key) {
    Parts parts;
    parts.key = std::move(key);
    parts.in_names = expression;
    parts.in_fields_only = "(" + expression + ") NOT {term aliases} : (" + expression + ")";
    // The named entries in the order lookups give them: the person's, the
    // glossary's, the dictionaries' in the person's order, the model's.
    static const std::string exact_sql =
        "SELECT t.id FROM terms t LEFT JOIN dictionaries d ON d.id = t.dictionary_id WHERE t.id IN (" + exact_ids() +
        ") ORDER BY CASE t.source WHEN 'glossary' THEN 1 WHEN 'dictionary' THEN 2 WHEN 'model' THEN 3 ELSE 0 END,"
        " d.position, t.id LIMIT 64";
    auto exact = column(exact_sql.c_str(), [&](Statement& st) { st.bind(2, parts.key); });
    if (!exact) return exact.error();
    parts.exact = std::move(exact).value();
    auto names_total = count(Index::kNames, parts.in_names);
    if (!names_total) return names_total.error();
    auto fields_total = count(Index::kAll, parts.in_fields_only);
    if (!fields_total) return fields_total.error();
    auto dictionary_total = count(Index::kDictionaryNames, parts.in_names);
    if (!dictionary_total) return dictionary_total.error();
    parts.names_size = *names_total;
    parts.fields_size = *fields_total;
    parts.dictionary_size = *dictionary_total;
    // A named entry is listed once, first: it leaves the part it matches in.
    for (auto id : parts.exact) {
      auto in_name = matches(Index::kNames, parts.in_names, id);
      if (!in_name) return in_name.error();
      if (*in_name) {
        --parts.names_size;
        continue;
      }
      auto in_fields = matches(Index::kAll, parts.in_fields_only, id);
      if (!in_fields) return in_fields.error();
      if (*in_fields) {
        --parts.fields_size;
        continue;
      }
      auto in_dictionary = matches(Index::kDictionaryNames, parts.in_names, id);
      if (!in_dictionary) return in_dictionary.error();
      if (*in_dictionary) --parts.dictionary_size;
    }
    const std::int64_t named = static_cast<std::int64_t>(parts.exact.size());
    if (*names_total > kSearchCountedAtMost || *fields_total > kSearchCountedAtMost ||
        *dictionary_total > kSearchCountedAtMost ||
        named + parts.names_size + parts.fields_size + parts.dictionary_size > kSearchCountedAtMost) {
      // Past the bound the list is cut there, each part keeping its place.
      parts.total_exact = false;
      parts.names_size = std::min(parts.names_size, kSearchCountedAtMost - named);
      parts.fields_size = std::min(parts.fields_size, kSearchCountedAtMost - named - parts.names_size);
      parts.dictionary_size =
          std::min(parts.dictionary_size, kSearchCountedAtMost - named - parts.names_size - parts.fields_size);
    }
    return parts;
  }

  // Up to `take` ids of a part from position `skip` on.
  Result<std::vector<std::int64_t>> part_ids(Index index, const std::string& match, const std::string& key,
                                             std::int64_t size, std::int64_t skip, std::int64_t take) {
    // A ranked part is read whole and sorted, so it may join what its order
    // needs; a large one only streams the index newest first.
    // FTS5 takes no alias for MATCH and its ranking: "@" stands for the index's own name.
    auto sql = [](const std::string& table, const std::string& join, const std::string& order) {
      std::string text = "SELECT @.rowid FROM @ " + join + " WHERE @ MATCH ?1 AND @.rowid NOT IN (" + exact_ids() +
                         ") ORDER BY " + order + " LIMIT ?3 OFFSET ?4";
      for (std::size_t at; (at = text.find('@')) != std::string::npos;) text.replace(at, 1, table);
      return text;
    };
    const std::string own = "JOIN terms t ON t.id = @.rowid";
    const std::string usable = "JOIN terms t ON t.id = @.rowid AND " + usable_term_sql("t");
    static const std::string names_ranked =
        sql("names_fts", own, std::string(kOwnSourceOrder) + ", bm25(@, 10.0, 5.0), @.rowid");
    static const std::string all_ranked =
        sql("terms_fts", own, std::string(kOwnSourceOrder) + ", bm25(@, 10.0, 5.0, 1.0), @.rowid");
    static const std::string names_newest = sql("names_fts", "", "@.rowid DESC");
    static const std::string all_newest = sql("terms_fts", "", "@.rowid DESC");
    static const std::string dictionary_ranked =
        sql("dictionary_names_fts", usable + " JOIN dictionaries d ON d.id = t.dictionary_id",
            "d.position, bm25(@, 10.0, 5.0), @.rowid");
    static const std::string dictionary_newest = sql("dictionary_names_fts", usable, "@.rowid DESC");
    const bool ranked = size <= kRankedAtMost;
    const std::string& chosen = index == Index::kNames ? (ranked ? names_ranked : names_newest)
                                : index == Index::kAll ? (ranked ? all_ranked : all_newest)
                                                       : (ranked ? dictionary_ranked : dictionary_newest);
    return column(chosen.c_str(), [&](Statement& st) {
      st.bind(1, match);
      st.bind(2, key);
      st.bind(3, take);
      st.bind(4, skip);
    });
  }

  // The ids of one page: `limit` from position `offset` on, across the parts.
  Result<std::vector<std::int64_t>> page_ids(const Parts& parts, int limit, int offset) {
    std::vector<std::int64_t> ids;
    std::int64_t skip = offset;
    std::int64_t wanted = limit;
    for (std::size_t i = 0; i < parts.exact.size() && wanted > 0; ++i) {
      if (skip > 0) {
        --skip;
        continue;
      }
      ids.push_back(parts.exact[i]);
      --wanted;
    }
    const struct {
      Index index;
      const std::string* match;
      std::int64_t size;
    } listed[] = {{Index::kNames, &parts.in_names, parts.names_size},
                  {Index::kAll, &parts.in_fields_only, parts.fields_size},
                  {Index::kDictionaryNames, &parts.in_names, parts.dictionary_size}};
    for (const auto& [index, match, size] : listed) {
      if (wanted <= 0) break;
      if (skip >= size) {
        skip -= size;
        continue;
      }
      auto taken = part_ids(index, *match, parts.key, size, skip, std::min(wanted, size - skip));
      if (!taken) return taken.error();
      wanted -= static_cast<std::int64_t>(taken->size());
      ids.insert(ids.end(), taken->begin(), taken->end());
      skip = 0;
    }
    return ids;
  }

  Result<void> add_entries(const std::vector<std::int64_t>& ids, TermPage& page) {
    static const std::string sql = std::string(kSelectColumns) + "WHERE id = ?1";
    for (auto id : ids) {
      Statement st(store_.kept_statement(sql.c_str()));
      if (!st.ok()) return sqlite_error(store_.db_, "prepare search");
      st.bind(1, id);
      int rc = st.step();
      if (rc == SQLITE_ROW) page.terms.push_back(entry_from_row(st));
      if (rc != SQLITE_ROW && rc != SQLITE_DONE) return sqlite_error(store_.db_, "search");
    }
    return store_.name_dictionaries(page.terms);
  }

  TermStore& store_;
};

Result<TermPage> TermStore::search(std::string_view query, int limit, int offset) {
  std::lock_guard<std::mutex> guard(mutex_);
  return noted(Search(*this).run(query, limit, offset));
}

}  // namespace ruvo::desktop::store
