// What a missed query may have meant: ranking stored names (terms and
// aliases, in their match keys) against the query's key.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::store {

// How near a stored name is to the query; smaller sorts first.
struct Nearness {
  int tier = 0;      // 0: the name starts with the query; 1: a few edits away; 2: shares characters
  double score = 0;  // within a tier: extra length, edits, or the share of characters not in common
};

// A stored name near the query, with the entry it names.
struct NearName {
  std::int64_t id = 0;
  std::string key;
  Nearness nearness;
};

// True for a key that edit distance suits: short and in Latin letters,
// digits and the punctuation of term names (a misspelt English word).
bool is_short_latin(std::string_view key);

// Edits (insertions, deletions, substitutions; two neighbours swapped count
// as one) between two keys when at most `bound`, else -1.
int edit_distance(std::string_view a, std::string_view b, int bound);

// How many edits a query of this key may be from what it meant: one for
// short words, two from five characters on.
int edit_bound(std::string_view query_key);

// The nearness of a stored key to a query key, or nothing (tier -1) when it
// is not near at all. Prefix first, then edit distance for short Latin
// words, then the characters a Chinese name shares with the query.
Nearness nearness(std::string_view query_key, std::string_view stored_key);

// Sorts best first (tier, score, shorter key, newer id), keeps one name per
// entry and at most `limit` of them.
std::vector<NearName> best_names(std::vector<NearName> names, std::size_t limit);

// How many characters of each of 16 classes a key holds, in 4-bit counts
// (a count past 15 stays 15). Every edit moves the sum of the differences
// between two keys' counts (their L1 distance) by at most 2: a substitution
// takes one from a class and gives one to another, an insertion or a
// deletion moves one class by one, two neighbours swapped move none. So
// half that distance, rounded up, is at most the edits between them.
std::uint64_t class_counts(std::string_view key);

// The L1 distance of two class_counts.
int class_distance(std::uint64_t a, std::uint64_t b);

// The short Latin names of the store kept in memory, so that a misspelling
// anywhere in a word is found without reading the store: the length, a
// bitmask of the characters present and the class counts rule out nearly
// every name before an edit distance is computed. Safe from several threads.
class LatinNames {
 public:
  using Deadline = std::optional<std::chrono::steady_clock::time_point>;

  void clear();
  void add(std::int64_t id, std::string_view key);
  // Names of this entry are no longer offered (deleted or renamed); their
  // room is given back at the next clear().
  void forget(std::int64_t id);
  // Names within the query's edit bound, unsorted; past the deadline, those
  // found by then.
  std::vector<NearName> near(std::string_view query_key, Deadline deadline = std::nullopt) const;
  std::size_t size() const;

 private:
  struct Item {
    std::uint64_t letters;  // one bit per character class present
    std::uint64_t counts;   // class_counts
    std::int64_t id;
    std::uint32_t offset;
    std::uint8_t length;
  };
  mutable std::mutex mutex_;
  std::string arena_;
  std::vector<Item> items_;  // a length of 0 marks a forgotten name
};

}  // namespace ruvo::desktop::store
