// The names' hashes in memory.
#include "store/name_table.hpp"

#include <algorithm>
#include <random>

namespace ruvo::desktop::store {

namespace {

constexpr std::size_t kSmallestTable = 1024;

// GCC and Clang's 128-bit integer, for the product of two 61-bit numbers.
__extension__ using Wide = unsigned __int128;

std::size_t mix(std::uint64_t value) {
  value ^= value >> 33;
  value *= 0xff51afd7ed558ccdULL;
  value ^= value >> 33;
  return static_cast<std::size_t>(value);
}

}  // namespace

NameHash::NameHash() {
  std::random_device random;
  std::uint64_t drawn = (static_cast<std::uint64_t>(random()) << 32) ^ random();
  base_ = (1u << 20) + drawn % (kModulus - (1u << 21));
  powers_.resize(NameTable::kLongestName + 1);
  powers_[0] = 1;
  for (std::size_t i = 1; i < powers_.size(); ++i) powers_[i] = times(powers_[i - 1], base_);
}

const NameHash& NameHash::instance() {
  static const NameHash hash;
  return hash;
}

std::uint64_t NameHash::times(std::uint64_t a, std::uint64_t b) {
  const Wide product = static_cast<Wide>(a) * b;
  std::uint64_t folded = static_cast<std::uint64_t>(product & kModulus) + static_cast<std::uint64_t>(product >> 61);
  folded = (folded & kModulus) + (folded >> 61);
  return folded >= kModulus ? folded - kModulus : folded;
}

std::uint64_t NameHash::of(std::u32string_view chars) const {
  std::uint64_t h = 0;
  for (char32_t c : chars) {
    h = times(h, base_) + static_cast<std::uint64_t>(c) + 1;
    if (h >= kModulus) h -= kModulus;
  }
  return h;
}

std::vector<std::uint64_t> NameHash::prefixes(std::u32string_view chars) const {
  std::vector<std::uint64_t> prefix(chars.size() + 1, 0);
  for (std::size_t i = 0; i < chars.size(); ++i) {
    std::uint64_t h = times(prefix[i], base_) + static_cast<std::uint64_t>(chars[i]) + 1;
    prefix[i + 1] = h >= kModulus ? h - kModulus : h;
  }
  return prefix;
}

std::uint64_t NameHash::of_range(const std::vector<std::uint64_t>& prefix, std::size_t i, std::size_t j) const {
  const std::uint64_t head = times(prefix[i], powers_[j - i]);
  return prefix[j] >= head ? prefix[j] - head : prefix[j] + kModulus - head;
}

NameTable::NameTable(unsigned filter_bits)
    : slots_(kSmallestTable, 0), longest_(std::size_t{1} << filter_bits, 0), filter_bits_(filter_bits) {}

std::size_t NameTable::bucket(char32_t first, char32_t second) const {
  return mix((static_cast<std::uint64_t>(first) << 32) | second) & ((std::size_t{1} << filter_bits_) - 1);
}

bool NameTable::add(std::u32string_view name) {
  if (name.size() < 2 || name.size() > kLongestName) return false;
  const std::uint64_t value = NameHash::instance().of(name) + 1;
  if (holds(value - 1)) return false;
  if ((count_ + 1) * 10 > slots_.size() * 6) grow();
  insert(value);
  ++count_;
  lengths_[name.size()] = true;
  auto& longest = longest_[bucket(name[0], name[1])];
  longest = std::max<std::uint16_t>(longest, static_cast<std::uint16_t>(name.size()));
  return true;
}

void NameTable::insert(std::uint64_t value) {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = mix(value) & mask;; at = (at + 1) & mask) {
    if (slots_[at] == 0) {
      slots_[at] = value;
      return;
    }
  }
}

void NameTable::grow() {
  std::vector<std::uint64_t> old(slots_.size() * 2, 0);
  old.swap(slots_);
  for (std::uint64_t value : old) {
    if (value != 0) insert(value);
  }
}

bool NameTable::holds(std::uint64_t hash) const {
  const std::uint64_t value = hash + 1;
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t at = mix(value) & mask;; at = (at + 1) & mask) {
    if (slots_[at] == value) return true;
    if (slots_[at] == 0) return false;
  }
}

std::size_t NameTable::longest_from(char32_t first, char32_t second) const { return longest_[bucket(first, second)]; }

std::size_t NameTable::memory_bytes() const {
  return slots_.size() * sizeof(std::uint64_t) + longest_.size() * sizeof(std::uint16_t);
}

}  // namespace ruvo::desktop::store
