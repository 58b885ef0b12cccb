// Dictionaries in the store: the named sources a person added (dictd, StarDict, MDict, CC-CEDICT
// files, read by readers/ and handed over article by article), their order, whether each is used,
// and the SQL every read applies so that a disabled dictionary, or one still being added or
// removed, is never seen. The store keeps what it needs of each article; nothing refers to the
// original files afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::store {

// The source of every dictionary entry; "origin" in the replies.
inline constexpr std::string_view kSourceDictionary = "dictionary";

// A dictionary as the store lists it.
struct Dictionary {
  std::int64_t id = 0;
  std::string name;       // what the person sees: the file's own name until they rename it
  std::string file_name;  // the name the file's metadata gives
  std::string format;     // "dictd", "stardict", "mdict" or "cedict"
  std::string path;       // the main file it came from
  std::string info;       // description, licence, attribution as plain text; "" when none
  std::string url;
  std::int64_t entries = 0;   // entries stored (one per distinct headword spelling)
  std::int64_t added_at = 0;  // seconds since 1970
  bool enabled = true;
  int position = 0;  // 0.. in the person's order, dense
};

// What is known of a dictionary before its articles are read.
struct DictionarySource {
  std::string name;
  std::string format;
  std::string path;
};

// What the reader says of the dictionary once it has read it all.
struct DictionaryDetails {
  std::string name;
  std::string info;
  std::string url;
};

// One article as the store takes it (readers::Article, copied over by the answers layer).
struct DictionaryArticle {
  std::string headword;
  std::vector<std::string> aliases;
  std::string lang;  // "zh" or "en"
  std::string text;  // plain text with "\n" line breaks
  std::string html;  // sanitized HTML for the interface, "" for plain text
  std::string phonetic;
  std::vector<std::string> see_also;
  std::vector<std::string> senses;  // CC-CEDICT's glosses, each sense on its own; else empty
};

// A change to a dictionary: any of the three.
struct DictionaryChange {
  std::optional<bool> enabled;
  std::optional<int> position;  // from 0; past the last means last
  std::optional<std::string> name;
};

// Enabled dictionaries and their entries, as health reports them.
struct DictionaryCounts {
  std::int64_t count = 0;
  std::int64_t entries = 0;
};

// Entries written per transaction while a dictionary is added or removed: saves get the writer
// between two batches, and a crash loses at most what the unfinished add would have thrown away.
inline constexpr std::size_t kDictionaryBatch = 20000;

// The most an article's text keeps: a longer one is cut at the last line break before this
// bound (or at a character boundary when it has none) and ends in kArticleCutNote.
inline constexpr std::size_t kMaxArticleBytes = 64 * 1024;
inline constexpr std::string_view kArticleCutNote = "…（全文太长，已截断）";

// The most names (headword and aliases) of one dictionary entry, and the most characters each.
inline constexpr std::size_t kMaxArticleAliases = 64;

// The row of store_facts that says whether the system's dictionaries were offered to the store:
// "pending" for a store made since they exist, until the service has added them; "done" after.
inline constexpr std::string_view kSystemDictionariesFact = "system_dictionaries";

// SQL that is true for a row of `terms` that reads may use: one that is not a dictionary's, or
// whose dictionary is added whole and enabled. `table` is the name or alias the query gives
// `terms` ("terms", "t"). Every read of entries applies it; so must any other reader of the
// table (an index of names in memory, say).
std::string usable_term_sql(std::string_view table = "terms");

// The glosses of a CC-CEDICT entry that link it to entries of other languages: each sense split
// at ";", parenthesised notes dropped, "CL:" classifiers and CC-CEDICT's own references
// ("see 死鎖|死锁[si3 suo3]") left out, a leading "to " dropped, white space trimmed; glosses of
// more than six words or 64 characters are no name of anything and are left out too. In order,
// each once.
std::vector<std::string> glosses_of(const std::vector<std::string>& senses);

// An article's text cut to kMaxArticleBytes as described there; unchanged when it fits.
std::string bounded_article_text(std::string text);

}  // namespace ruvo::desktop::store
