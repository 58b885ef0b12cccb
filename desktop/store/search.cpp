// The search over terms, aliases and fields: the query made into an index
// expression, the matches counted part by part (the entries the query
// names, those it matches by name, those it matches only in their fields),
// and one page of them read in that order; all of it on a reader, within
// the search's time budget.
#include "common/utf8.hpp"
#include "store/connection_pool.hpp"
#include "store/match_key.hpp"
#include "store/rows.hpp"
#include "store/sql.hpp"
#include "store/sqlite_connection.hpp"
#include "store/store.hpp"

#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
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

// A query's words as the index takes them: each Latin word alone, each run
// of Chinese characters a phrase; the same word or phrase given twice is
// looked for once, and words past kMaxSearchWords (a phrase counting one for
// each of its characters) are ignored.
struct QueryWord {
  std::string text;
  bool phrase = false;
};

std::vector<QueryWord> query_words(std::string_view text) {
  std::string indexed = index_text(text);
  std::vector<QueryWord> out;
  std::size_t used = 0;
  QueryWord phrase{"", true};
  std::size_t phrase_words = 0;
  auto keep = [&](QueryWord word, std::size_t words) {
    for (const auto& kept : out) {
      if (kept.phrase == word.phrase && kept.text == word.text) return;
    }
    used += words;
    out.push_back(std::move(word));
  };
  auto flush_phrase = [&] {
    if (phrase_words > 0) keep(std::move(phrase), phrase_words);
    phrase = QueryWord{"", true};
    phrase_words = 0;
  };
  std::size_t start = 0;
  while (start <= indexed.size() && used + phrase_words < kMaxSearchWords) {
    std::size_t end = indexed.find(' ', start);
    if (end == std::string::npos) end = indexed.size();
    std::string word = indexed.substr(start, end - start);
    start = end + 1;
    if (word.empty()) continue;
    if (is_one_cjk(word)) {
      phrase.text += (phrase.text.empty() ? "" : " ") + word;
      ++phrase_words;
      continue;
    }
    flush_phrase();
    // Only words the index would keep: a word of punctuation alone matches nothing.
    bool has_text = false;
    for (unsigned char c : word) has_text = has_text || std::isalnum(c) || c >= 0x80;
    if (has_text) keep(QueryWord{std::move(word), false}, 1);
  }
  flush_phrase();
  return out;
}

// A search as the index takes it: each Latin word a prefix ("promp"
// finds Prompt as it is typed), each run of Chinese characters a phrase
// (检索 inside 检索增强生成), all of them required. Every word is quoted,
// its quotes doubled, so no text becomes syntax of the index. Empty when
// the text has no word at all.
Result<std::string> search_expression(std::string_view text, const PrefixWords& prefix_words) {
  std::string expression;
  for (const auto& word : query_words(text)) {
    std::string term;
    if (word.phrase) {
      term = index_word(word.text);
    } else {
      auto spelled = prefix_words(word.text);
      if (!spelled) return spelled.error();
      term = index_word(word.text) + "*";
      if (*spelled && !(*spelled)->empty()) {
        term.clear();
        for (const auto& one : **spelled) term += (term.empty() ? "(" : " OR ") + index_word(one);
        term += ")";
      }
    }
    expression += (expression.empty() ? "" : " AND ") + term;
  }
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

// The two indexes a part is read from: the names alone, or everything.
enum class Index { kNames, kAll };

// One part of a search's results as the index gave it, newest first.
struct Part {
  std::int64_t matched = 0;  // the index's matches read, up to kSearchCountedAtMost + 1, named ones included
  std::int64_t size = 0;     // the same, the named entries aside
  // The part's entries at the positions a page wants, newest first.
  std::vector<std::int64_t> window;
  bool cut = false;  // the budget ran out while it was read
};

// The statements that read a part: every match of the index, newest first.
constexpr const char* kNamesNewest =
    "SELECT rowid FROM names_fts WHERE names_fts MATCH ?1 ORDER BY rowid DESC LIMIT ?2";
constexpr const char* kAllNewest = "SELECT rowid FROM terms_fts WHERE terms_fts MATCH ?1 ORDER BY rowid DESC LIMIT ?2";

}  // namespace

class TermStore::Search {
 public:
  Search(TermStore& store, Connection& reader)
      : store_(store), reader_(reader), budget_(reader, store.bounds_.search_budget) {}

  Result<TermPage> run(std::string_view query, int limit, int offset) {
    if (common::is_blank(query)) return recent(limit, offset);
    TermPage page;
    auto expression = search_expression(query, [this](const std::string& word) { return prefix_words(word); });
    if (!expression) return expression.error();
    // Out of time before the query was whole: nothing it found is a match of
    // the query asked.
    if (cut_) return cut_short(std::move(page));
    if (expression->empty()) return page;

    // The results in order: the entries the query names, then those matching
    // it in a term or an alias, then those matching only in their fields.
    // Each part is ranked (a match in the term counts most, then in an alias,
    // then in the fields) when it is small enough, else listed newest first.
    // The names part is read from the index of names alone; the fields part
    // from the whole one, less what matched in its term or alias columns.
    const std::string key = term_key(query);
    const std::string in_names = *expression;
    const std::string in_fields_only = "(" + *expression + ") NOT {term aliases} : (" + *expression + ")";
    static const std::string exact_sql = std::string(kExactIds) + " ORDER BY 1 LIMIT 64";
    auto exact = column(exact_sql.c_str(), [&](Statement& st) { st.bind(2, key); });
    if (!exact) return exact.error();
    const auto named = static_cast<std::int64_t>(exact->size());

    // A page is `limit` entries from position `offset` on, across the parts.
    std::vector<std::int64_t> ids;
    for (std::int64_t i = offset; i < named && static_cast<int>(ids.size()) < limit; ++i) ids.push_back((*exact)[i]);
    std::int64_t skip = std::max<std::int64_t>(0, offset - named);
    std::int64_t before = named;  // entries listed ahead of the part read next
    bool exact_total = true;
    const struct {
      const char* newest;
      Index index;
      const std::string* match;
    } parts[] = {{kNamesNewest, Index::kNames, &in_names}, {kAllNewest, Index::kAll, &in_fields_only}};
    for (const auto& [newest, index, match] : parts) {
      if (cut_) break;
      const std::int64_t take = limit - static_cast<std::int64_t>(ids.size());
      auto part = read_part(newest, *match, *exact, skip, take);
      if (!part) return part.error();
      // Past the bound the list is cut there, each part keeping its place.
      if (part->matched > kSearchCountedAtMost) exact_total = false;
      if (before + part->size > kSearchCountedAtMost) {
        exact_total = false;
        part->size = kSearchCountedAtMost - before;
      }
      if (skip < part->size && take > 0) {
        const std::int64_t wanted = std::min(take, part->size - skip);
        auto taken = part->size <= kRankedAtMost && !part->cut
                         ? ranked(index, *match, key, skip, wanted)
                         : Result<std::vector<std::int64_t>>(std::vector<std::int64_t>());
        if (!taken) return taken.error();
        // Unranked, or the ranking ran out of time: newest first, as read.
        if (cut_ || part->cut || part->size > kRankedAtMost) {
          taken = std::vector<std::int64_t>(part->window.begin(),
                                            part->window.begin() + std::min<std::int64_t>(wanted, part->window.size()));
        }
        ids.insert(ids.end(), taken->begin(), taken->end());
      }
      skip = std::max<std::int64_t>(0, skip - part->size);
      before += part->size;
    }
    page.total = before;
    page.total_exact = exact_total;
    if (auto added = add_entries(ids, page); !added) return added.error();
    return cut_ ? cut_short(std::move(page)) : page;
  }

 private:
  // What a search that ran out of time says.
  static TermPage cut_short(TermPage page) {
    page.partial = true;
    page.total_exact = false;
    return page;
  }

  // True when a statement ended well, or was stopped by the budget (noted:
  // what it read so far stands).
  bool finished(int rc) {
    if (rc == SQLITE_DONE) return true;
    if (rc == SQLITE_INTERRUPT && budget_.ran_out()) {
      cut_ = true;
      return true;
    }
    return false;
  }

  // The one way this search reads the index: a kept statement run to its
  // end (or to the budget's), giving its first column.
  template <typename T = std::int64_t, typename Bind>
  Result<std::vector<T>> column(const char* sql, Bind bind) {
    std::vector<T> out;
    if (cut_) return out;
    Statement st(reader_.kept(sql));
    if (!st.ok()) return sqlite_error(reader_.db(), "prepare search");
    bind(st);
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) {
      if constexpr (std::is_same_v<T, std::string>) {
        out.push_back(st.text(0));
      } else {
        out.push_back(st.integer(0));
      }
    }
    if (!finished(rc)) return sqlite_error(reader_.db(), "search");
    return out;
  }

  // A blank query: every entry, the most recently updated first.
  Result<TermPage> recent(int limit, int offset) {
    TermPage page;
    auto total = column("SELECT COUNT(*) FROM terms", [](Statement&) {});
    if (!total) return total.error();
    page.total = total->empty() ? std::max<std::int64_t>(0, store_.known_count()) : total->front();
    auto ids = column("SELECT id FROM terms ORDER BY updated_at DESC, id DESC LIMIT ?1 OFFSET ?2", [&](Statement& st) {
      st.bind(1, static_cast<std::int64_t>(limit));
      st.bind(2, static_cast<std::int64_t>(offset));
    });
    if (!ids) return ids.error();
    if (auto added = add_entries(*ids, page); !added) return added.error();
    return cut_ ? cut_short(std::move(page)) : page;
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

  // A part read from its index newest first, up to one past the counted
  // bound: how many match, the named entries aside, and those at positions
  // `skip` to `skip + take` of what is left.
  Result<Part> read_part(const char* sql, const std::string& match, const std::vector<std::int64_t>& exact,
                         std::int64_t skip, std::int64_t take) {
    Part part;
    Statement st(reader_.kept(sql));
    if (!st.ok()) return sqlite_error(reader_.db(), "prepare search");
    st.bind(1, match);
    st.bind(2, kSearchCountedAtMost + 1);
    int rc;
    while ((rc = st.step()) == SQLITE_ROW) {
      const std::int64_t id = st.integer(0);
      ++part.matched;
      if (std::find(exact.begin(), exact.end(), id) != exact.end()) continue;
      if (part.size >= skip && part.size < skip + take) part.window.push_back(id);
      ++part.size;
    }
    if (!finished(rc)) return sqlite_error(reader_.db(), "search");
    part.cut = cut_;
    return part;
  }

  // Up to `take` ids of a part, ranked, from position `skip` on.
  Result<std::vector<std::int64_t>> ranked(Index index, const std::string& match, const std::string& key,
                                           std::int64_t skip, std::int64_t take) {
    auto sql = [](const char* table, const char* order) {
      return std::string("SELECT rowid FROM ") + table + " WHERE " + table + " MATCH ?1 AND rowid NOT IN (" +
             kExactIds + ") ORDER BY " + order + " LIMIT ?3 OFFSET ?4";
    };
    static const std::string names_ranked = sql("names_fts", "bm25(names_fts, 10.0, 5.0), rowid");
    static const std::string all_ranked = sql("terms_fts", "bm25(terms_fts, 10.0, 5.0, 1.0), rowid");
    return column(index == Index::kNames ? names_ranked.c_str() : all_ranked.c_str(), [&](Statement& st) {
      st.bind(1, match);
      st.bind(2, key);
      st.bind(3, take);
      st.bind(4, skip);
    });
  }

  // The entries listed, read whatever the time: a page's worth of lookups
  // by id.
  Result<void> add_entries(const std::vector<std::int64_t>& ids, TermPage& page) {
    budget_.lift();
    static const std::string sql = std::string(kSelectColumns) + "WHERE id = ?1";
    for (auto id : ids) {
      Statement st(reader_.kept(sql.c_str()));
      if (!st.ok()) return sqlite_error(reader_.db(), "prepare search");
      st.bind(1, id);
      int rc = st.step();
      if (rc == SQLITE_ROW) page.terms.push_back(entry_from_row(st));
      if (rc != SQLITE_ROW && rc != SQLITE_DONE) return sqlite_error(reader_.db(), "search");
    }
    return {};
  }

  TermStore& store_;
  Connection& reader_;
  Budget budget_;
  bool cut_ = false;  // a statement was stopped by the budget
};

Result<TermPage> TermStore::search(std::string_view query, int limit, int offset) {
  auto reader = readers_->lease();
  if (!reader) return reader.error();
  return noted(Search(*this, **reader).run(query, limit, offset));
}

}  // namespace ruvo::desktop::store
