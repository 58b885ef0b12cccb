#include "store/match_key.hpp"

#include "common/utf8.hpp"

#include <opencc.h>
#include <utf8proc.h>

#include <cstdlib>
#include <mutex>
#include <vector>

namespace ruvo::desktop::store {

namespace {

bool is_ascii(std::string_view text) {
  for (unsigned char c : text) {
    if (c >= 0x80) return false;
  }
  return true;
}

// The system's Traditional → Simplified conversion, loaded on first use (its
// dictionaries take a few megabytes and some milliseconds, which a process
// that never sees a Chinese key need not pay). The conversion is slow next
// to everything else a key takes (a few megabytes a second), and most text
// has nothing to convert: loading also notes every character the conversion
// changes, and text without one of them is left as it is. Calls are
// serialised: the library does not promise that one converter may be used
// from several threads at once.
class ChineseFolding {
 public:
  static ChineseFolding& instance() {
    static ChineseFolding folding;
    return folding;
  }

  bool available() const { return converter_ != nullptr; }

  std::string simplified(const std::string& text) {
    if (converter_ == nullptr || !has_traditional(text)) return text;
    std::lock_guard<std::mutex> guard(mutex_);
    return convert(text);
  }

 private:
  // The blocks in everyday use; rarer characters past them are always handed
  // to the conversion, which keeps loading short.
  static constexpr char32_t kLastHan = 0xFAFF;

  ChineseFolding() {
    // A bare name is looked up in the library's own data folder
    // (/usr/share/opencc on Debian).
    opencc_t handle = opencc_open("t2s.json");
    if (handle == reinterpret_cast<opencc_t>(-1)) return;
    converter_ = handle;
    changed_.assign(kLastHan + 1, false);
    // Every character of the Han blocks, one a line so no two form a phrase.
    std::string all;
    std::vector<char32_t> order;
    for (char32_t c = 0x3400; c <= kLastHan; ++c) {
      if (c > 0x9FFF && c < 0xF900) c = 0xF900;
      std::string encoded = encode(c);
      all += encoded;
      all += '\n';
      order.push_back(c);
    }
    std::string converted = convert(all);
    std::size_t line = 0, start = 0;
    for (std::size_t pos = 0; pos <= converted.size() && line < order.size(); ++pos) {
      if (pos < converted.size() && converted[pos] != '\n') continue;
      if (converted.compare(start, pos - start, encode(order[line])) != 0) changed_[order[line]] = true;
      ++line;
      start = pos + 1;
    }
    if (line != order.size()) changed_.assign(kLastHan + 1, true);  // lines merged: convert everything
  }
  ~ChineseFolding() {
    if (converter_ != nullptr) opencc_close(converter_);
  }

  // Three bytes: every character up to kLastHan.
  static std::string encode(char32_t c) {
    std::string out;
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
    return out;
  }

  bool has_traditional(std::string_view text) const {
    for (std::size_t pos = 0; pos < text.size();) {
      auto step = common::decode_utf8(text, pos);
      if (step.valid && step.scalar >= 0x20000) return true;
      if (step.valid && step.scalar <= kLastHan && changed_[step.scalar]) return true;
      pos += step.length;
    }
    return false;
  }

  std::string convert(const std::string& text) const {
    char* converted = opencc_convert_utf8(converter_, text.data(), text.size());
    if (converted == nullptr) return text;
    std::string out(converted);
    opencc_convert_utf8_free(converted);
    return out;
  }

  std::mutex mutex_;
  opencc_t converter_ = nullptr;
  std::vector<bool> changed_;  // by code point: the conversion changes it
};

// NFKC with case folding, without the default-ignorable characters (zero
// width spaces, soft hyphens) that would make two equal-looking keys differ.
std::string folded(std::string_view text) {
  utf8proc_uint8_t* out = nullptr;
  auto options = static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPAT | UTF8PROC_COMPOSE |
                                                UTF8PROC_CASEFOLD | UTF8PROC_IGNORE);
  utf8proc_ssize_t length = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                                         static_cast<utf8proc_ssize_t>(text.size()), &out, options);
  if (length < 0) {
    std::free(out);
    return common::ascii_lower(text);
  }
  std::string result(reinterpret_cast<const char*>(out), static_cast<std::size_t>(length));
  std::free(out);
  return result;
}

// Trimmed, with every run of White_Space inside made one space.
std::string collapsed_space(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool pending_space = false;
  for (std::size_t pos = 0; pos < text.size();) {
    auto step = common::decode_utf8(text, pos);
    if (step.valid && common::is_unicode_space(step.scalar)) {
      pending_space = !out.empty();
    } else {
      if (pending_space) out.push_back(' ');
      pending_space = false;
      out.append(text.substr(pos, step.length));
    }
    pos += step.length;
  }
  return out;
}

}  // namespace

bool is_cjk(char32_t c) {
  return (c >= 0x3040 && c <= 0x30FF) ||    // Hiragana, Katakana
         (c >= 0x3400 && c <= 0x4DBF) ||    // Han extension A
         (c >= 0x4E00 && c <= 0x9FFF) ||    // Han
         (c >= 0xAC00 && c <= 0xD7AF) ||    // Hangul syllables
         (c >= 0xF900 && c <= 0xFAFF) ||    // Han compatibility
         (c >= 0x20000 && c <= 0x3FFFF);    // Han extensions B and on
}

std::string match_key(std::string_view text) {
  if (is_ascii(text)) return collapsed_space(common::ascii_lower(text));
  if (!common::is_valid_utf8(text)) return collapsed_space(common::ascii_lower(text));
  std::string key = collapsed_space(folded(text));
  if (is_ascii(key)) return key;
  return ChineseFolding::instance().simplified(key);
}

std::string index_text(std::string_view text) {
  std::string key = match_key(text);
  if (is_ascii(key)) return key;
  std::string out;
  out.reserve(key.size() + key.size() / 2);
  for (std::size_t pos = 0; pos < key.size();) {
    auto step = common::decode_utf8(key, pos);
    if (step.valid && is_cjk(step.scalar)) {
      if (!out.empty() && out.back() != ' ') out.push_back(' ');
      out.append(key, pos, step.length);
      out.push_back(' ');
    } else if (!(key[pos] == ' ' && !out.empty() && out.back() == ' ')) {
      out.append(key, pos, step.length);
    }
    pos += step.length;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

bool chinese_folding_available() { return ChineseFolding::instance().available(); }

std::string fold_piece(std::string_view piece) {
  if (is_ascii(piece)) return common::ascii_lower(piece);
  return folded(piece);
}

std::string simplified_chinese(const std::string& folded_text) {
  if (is_ascii(folded_text)) return folded_text;
  return ChineseFolding::instance().simplified(folded_text);
}

}  // namespace ruvo::desktop::store
