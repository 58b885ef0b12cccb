// Ranking the names a missed query may have meant, and the short Latin names
// scanned in memory for misspellings.
#include "store/suggest.hpp"

#include "common/utf8.hpp"

#include <edlib.h>

#include <algorithm>
#include <bit>
#include <set>

namespace ruvo::desktop::store {

namespace {

// Names longer than this are phrases, not words one misspells.
constexpr std::size_t kMaxLatinBytes = 24;

bool latin_byte(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ' || c == '-' || c == '_' || c == '.' || c == '+' ||
         c == '#' || c == '/' || c == '\'' || c == '&';
}

std::uint64_t letter_mask(std::string_view key) {
  std::uint64_t mask = 0;
  for (unsigned char c : key) {
    if (c >= 'a' && c <= 'z') {
      mask |= std::uint64_t{1} << (c - 'a');
    } else if (c >= '0' && c <= '9') {
      mask |= std::uint64_t{1} << (26 + c - '0');
    } else {
      mask |= std::uint64_t{1} << (36 + c % 28);
    }
  }
  return mask;
}

std::vector<char32_t> scalars(std::string_view text) {
  std::vector<char32_t> out;
  for (std::size_t pos = 0; pos < text.size();) {
    auto step = common::decode_utf8(text, pos);
    if (step.valid && !common::is_unicode_space(step.scalar)) out.push_back(step.scalar);
    pos += step.length;
  }
  return out;
}

// Among names the same number of edits away, the one of the query's length
// and with the longer common beginning is more likely meant ("promtp" is
// "prompt" rather than "potp"); a name the query only runs past ("ragg" for
// "rag") was most likely meant.
double edit_score(std::string_view query, std::string_view key, int distance) {
  std::size_t common = 0;
  while (common < query.size() && common < key.size() && query[common] == key[common]) ++common;
  double length_gap = query.size() > key.size() ? static_cast<double>(query.size() - key.size())
                                                : static_cast<double>(key.size() - query.size());
  double score = distance + 0.25 * length_gap - 0.05 * static_cast<double>(std::min<std::size_t>(common, 4));
  if (common == std::min(query.size(), key.size())) score -= 0.3;
  return score;
}

// Two neighbouring letters typed the wrong way round ("rga" for "rag"): one
// slip, though it takes two plain edits.
bool is_adjacent_swap(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  std::size_t i = 0;
  while (i < a.size() && a[i] == b[i]) ++i;
  if (i + 1 >= a.size() || a[i] != b[i + 1] || a[i + 1] != b[i] || a[i] == a[i + 1]) return false;
  return a.substr(i + 2) == b.substr(i + 2);
}

}  // namespace

bool is_short_latin(std::string_view key) {
  if (key.empty() || key.size() > kMaxLatinBytes) return false;
  return std::all_of(key.begin(), key.end(), [](char c) { return latin_byte(static_cast<unsigned char>(c)); });
}

int edit_distance(std::string_view a, std::string_view b, int bound) {
  if (bound >= 1 && is_adjacent_swap(a, b)) return 1;
  if (a.size() > b.size() ? a.size() - b.size() > static_cast<std::size_t>(bound)
                          : b.size() - a.size() > static_cast<std::size_t>(bound)) {
    return -1;
  }
  if (a.empty() || b.empty()) return static_cast<int>(a.size() + b.size());
  EdlibAlignResult result = edlibAlign(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()),
                                       edlibNewAlignConfig(bound, EDLIB_MODE_NW, EDLIB_TASK_DISTANCE, nullptr, 0));
  int distance = result.status == EDLIB_STATUS_OK ? result.editDistance : -1;
  edlibFreeAlignResult(result);
  return distance;
}

int edit_bound(std::string_view query_key) { return query_key.size() <= 4 ? 1 : 2; }

Nearness nearness(std::string_view query_key, std::string_view stored_key) {
  if (query_key.empty() || stored_key == query_key) return {-1, 0};
  if (stored_key.size() > query_key.size() && stored_key.substr(0, query_key.size()) == query_key) {
    return {0, static_cast<double>(stored_key.size() - query_key.size())};
  }
  if (is_short_latin(query_key) && is_short_latin(stored_key)) {
    int distance = edit_distance(query_key, stored_key, edit_bound(query_key));
    if (distance > 0) return {1, edit_score(query_key, stored_key, distance)};
    return {-1, 0};
  }
  // Chinese (and anything else that is not a short Latin word): the share of
  // the query's characters found in the name, when two thirds or more are.
  auto wanted = scalars(query_key);
  auto stored = scalars(stored_key);
  if (wanted.empty() || stored.empty()) return {-1, 0};
  std::set<char32_t> have(stored.begin(), stored.end());
  std::set<char32_t> distinct(wanted.begin(), wanted.end());
  std::size_t shared = 0;
  for (char32_t c : distinct) shared += have.count(c);
  if (shared == 0 || shared * 3 < distinct.size() * 2) return {-1, 0};
  double longer = static_cast<double>(std::max(distinct.size(), have.size()));
  return {2, 1.0 - static_cast<double>(shared) / longer};
}

std::vector<NearName> best_names(std::vector<NearName> names, std::size_t limit) {
  std::sort(names.begin(), names.end(), [](const NearName& a, const NearName& b) {
    if (a.nearness.tier != b.nearness.tier) return a.nearness.tier < b.nearness.tier;
    if (a.nearness.score != b.nearness.score) return a.nearness.score < b.nearness.score;
    if (a.key.size() != b.key.size()) return a.key.size() < b.key.size();
    return a.id > b.id;
  });
  std::vector<NearName> out;
  std::set<std::int64_t> seen;
  for (auto& name : names) {
    if (out.size() == limit) break;
    if (seen.insert(name.id).second) out.push_back(std::move(name));
  }
  return out;
}

std::uint64_t class_counts(std::string_view key) {
  // The class of a byte is its low four bits: the common letters (a e i o
  // n r s t) fall in classes of their own, and so do the ten digits, which
  // is what tells apart names that differ in a number.
  std::uint64_t counts = 0;
  for (unsigned char c : key) {
    const unsigned shift = 4 * (c & 0x0F);
    if (((counts >> shift) & 0x0F) != 0x0F) counts += std::uint64_t{1} << shift;
  }
  return counts;
}

int class_distance(std::uint64_t a, std::uint64_t b) {
  // Eight counts at a time, one to a byte: 128 + x - y in each byte never
  // borrows from the next, and its top bit says which of the two is larger.
  constexpr std::uint64_t kLow = 0x0F0F0F0F0F0F0F0FULL;
  constexpr std::uint64_t kTop = 0x8080808080808080ULL;
  constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
  int sum = 0;
  for (unsigned shift : {0u, 4u}) {
    const std::uint64_t x = (a >> shift) & kLow;
    const std::uint64_t y = (b >> shift) & kLow;
    const std::uint64_t x_minus_y = (x | kTop) - y;
    const std::uint64_t y_minus_x = (y | kTop) - x;
    const std::uint64_t x_larger = ((x_minus_y & kTop) >> 7) * 0xFF;
    const std::uint64_t apart = (x_minus_y & x_larger & ~kTop) | (y_minus_x & ~x_larger & ~kTop);
    sum += static_cast<int>((apart * kOnes) >> 56);
  }
  return sum;
}

void LatinNames::clear() {
  std::lock_guard<std::mutex> guard(mutex_);
  arena_.clear();
  items_.clear();
}

void LatinNames::add(std::int64_t id, std::string_view key) {
  if (!is_short_latin(key)) return;
  std::lock_guard<std::mutex> guard(mutex_);
  items_.push_back(Item{letter_mask(key), class_counts(key), id, static_cast<std::uint32_t>(arena_.size()),
                        static_cast<std::uint8_t>(key.size())});
  arena_.append(key);
}

void LatinNames::forget(std::int64_t id) {
  std::lock_guard<std::mutex> guard(mutex_);
  // A pass over a million names takes about a millisecond; deleting and
  // renaming are rare next to looking up.
  for (auto& item : items_) {
    if (item.id == id) item.length = 0;
  }
}

std::vector<NearName> LatinNames::near(std::string_view query_key, Deadline deadline) const {
  std::vector<NearName> out;
  if (!is_short_latin(query_key)) return out;
  const int bound = edit_bound(query_key);
  const std::uint64_t mask = letter_mask(query_key);
  const std::uint64_t counts = class_counts(query_key);
  const auto length = static_cast<int>(query_key.size());
  // Looks at the clock every this many names: a few microseconds apart.
  constexpr std::size_t kNamesBetweenLooks = 4096;
  std::lock_guard<std::mutex> guard(mutex_);
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (deadline && i % kNamesBetweenLooks == 0 && std::chrono::steady_clock::now() >= *deadline) break;
    const Item& item = items_[i];
    // Each edit adds or removes at most two characters present, moves the
    // class counts by at most two and changes the length by at most one:
    // cheap tests that rule out nearly all names. Generated names differ
    // mostly in their digits, which only the counts tell apart.
    if (item.length == 0 || std::abs(static_cast<int>(item.length) - length) > bound) continue;
    if (std::popcount(item.letters ^ mask) > 2 * bound) continue;
    if (class_distance(item.counts, counts) > 2 * bound) continue;
    std::string_view key(arena_.data() + item.offset, item.length);
    if (key == query_key) continue;
    int distance = edit_distance(query_key, key, bound);
    if (distance <= 0) continue;
    out.push_back(NearName{item.id, std::string(key), Nearness{1, edit_score(query_key, key, distance)}});
  }
  return out;
}

std::size_t LatinNames::size() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return items_.size();
}

}  // namespace ruvo::desktop::store
