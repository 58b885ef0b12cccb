// The stored names in memory, small enough for a million of them: the hash
// of each name's match key in a flat open-addressing table, the lengths that
// occur, and the longest name for each pair of first characters. It answers
// "may a name of exactly these characters be stored?"; the store answers
// which entry it is (a hash may meet another name's, or a deleted one's).
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace ruvo::desktop::store {

// Hashes of code point sequences, polynomial modulo 2^61 - 1 with a base
// drawn at random once per process, so no text can be made to collide on
// purpose. hash(i, j) over a text's prefix hashes costs the same for every
// length.
class NameHash {
 public:
  static constexpr std::uint64_t kModulus = (std::uint64_t{1} << 61) - 1;

  static const NameHash& instance();

  std::uint64_t of(std::u32string_view chars) const;
  // prefix[k] = hash of chars[0, k); prefix has chars.size() + 1 members.
  std::vector<std::uint64_t> prefixes(std::u32string_view chars) const;
  // The hash of chars[i, j) from the prefixes; j - i at most kLongestName.
  std::uint64_t of_range(const std::vector<std::uint64_t>& prefix, std::size_t i, std::size_t j) const;

 private:
  NameHash();
  static std::uint64_t times(std::uint64_t a, std::uint64_t b);
  std::uint64_t base_;
  std::vector<std::uint64_t> powers_;
};

class NameTable {
 public:
  // Names longer than this (in characters) are left out, and so are names of
  // one character, which never count as a term in a text.
  static constexpr std::size_t kLongestName = 256;

  // `filter_bits`: the size of the first-characters filter, 2^filter_bits
  // entries of two bytes (a small table for a few names takes few).
  explicit NameTable(unsigned filter_bits = 16);

  // Adds a match key (its characters); false when it is left out or was
  // there already.
  bool add(std::u32string_view name);

  bool holds(std::uint64_t hash) const;
  bool has_length(std::size_t length) const { return length <= kLongestName && lengths_[length]; }
  // The longest stored name that starts with these two characters may be
  // this long (0: none does).
  std::size_t longest_from(char32_t first, char32_t second) const;

  std::size_t size() const { return count_; }
  std::size_t memory_bytes() const;

 private:
  std::size_t bucket(char32_t first, char32_t second) const;
  void insert(std::uint64_t slot_value);
  void grow();

  std::vector<std::uint64_t> slots_;  // hash + 1; 0 marks a free slot
  std::size_t count_ = 0;
  std::bitset<kLongestName + 1> lengths_;
  std::vector<std::uint16_t> longest_;
  unsigned filter_bits_;
};

}  // namespace ruvo::desktop::store
