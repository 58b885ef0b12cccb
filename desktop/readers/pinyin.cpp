// Tone numbers to tone marks, placed as pinyin places them: on a or e, on the o of ou, otherwise on
// the last vowel; m and n carry it in syllables without a vowel.
#include "readers/cedict.hpp"

#include <array>

namespace ruvo::desktop::readers {
namespace {

struct Marked {
  const char* base;                 // the letter as it stands in the numbered form
  std::array<const char*, 4> tone;  // tones 1-4
};

// ü is written u: in the numbered form; it is replaced before marking.
constexpr Marked kMarks[] = {
    {"a", {"ā", "á", "ǎ", "à"}},      {"e", {"ē", "é", "ě", "è"}},      {"i", {"ī", "í", "ǐ", "ì"}},
    {"o", {"ō", "ó", "ǒ", "ò"}},      {"u", {"ū", "ú", "ǔ", "ù"}},      {"ü", {"ǖ", "ǘ", "ǚ", "ǜ"}},
    {"A", {"Ā", "Á", "Ǎ", "À"}},      {"E", {"Ē", "É", "Ě", "È"}},      {"I", {"Ī", "Í", "Ǐ", "Ì"}},
    {"O", {"Ō", "Ó", "Ǒ", "Ò"}},      {"U", {"Ū", "Ú", "Ǔ", "Ù"}},      {"Ü", {"Ǖ", "Ǘ", "Ǚ", "Ǜ"}},
    {"ê", {"ê̄", "ế", "ê̌", "ề"}},     {"Ê", {"Ê̄", "Ế", "Ê̌", "Ề"}},
    {"m", {"m̄", "ḿ", "m̌", "m̀"}},     {"n", {"n̄", "ń", "ň", "ǹ"}},      {"M", {"M̄", "Ḿ", "M̌", "M̀"}},
    {"N", {"N̄", "Ń", "Ň", "Ǹ"}}};

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The syllable's letters as units: "ü" for "u:", "ê" for "e^", single letters otherwise.
std::vector<std::string> units_of(std::string_view letters) {
  std::vector<std::string> units;
  for (std::size_t i = 0; i < letters.size(); ++i) {
    const char c = letters[i];
    const bool next_colon = i + 1 < letters.size() && letters[i + 1] == ':';
    const bool next_caret = i + 1 < letters.size() && letters[i + 1] == '^';
    if ((c == 'u' || c == 'U' || c == 'v' || c == 'V') && next_colon) {
      units.emplace_back(c == 'u' || c == 'v' ? "ü" : "Ü");
      ++i;
    } else if ((c == 'e' || c == 'E') && next_caret) {
      units.emplace_back(c == 'e' ? "ê" : "Ê");
      ++i;
    } else {
      units.emplace_back(1, c);
    }
  }
  return units;
}

bool unit_is(const std::string& unit, std::string_view lower) {
  if (unit == lower) return true;
  if (lower == "ü") return unit == "Ü";
  if (lower == "ê") return unit == "Ê";
  return unit.size() == 1 && lower.size() == 1 && unit[0] == lower[0] - 'a' + 'A';
}

std::string marked(std::string_view letters, int tone) {
  std::vector<std::string> units = units_of(letters);
  std::string out;
  if (tone >= 1 && tone <= 4) {
    auto find = [&](std::string_view lower) -> int {
      for (std::size_t i = 0; i < units.size(); ++i) {
        if (unit_is(units[i], lower)) return static_cast<int>(i);
      }
      return -1;
    };
    int at = find("a");
    if (at < 0) at = find("e");
    if (at < 0) at = find("ê");
    if (at < 0) {
      const int o = find("o");
      if (o >= 0 && o + 1 < static_cast<int>(units.size()) && unit_is(units[o + 1], "u")) at = o;
    }
    if (at < 0) {
      for (int i = static_cast<int>(units.size()) - 1; i >= 0 && at < 0; --i) {
        for (const std::string_view vowel : {"i", "o", "u", "ü"}) {
          if (unit_is(units[i], vowel)) at = i;
        }
      }
    }
    if (at < 0) {
      at = find("n");
      if (at < 0) at = find("m");
    }
    if (at >= 0) {
      for (const auto& mark : kMarks) {
        if (units[at] == mark.base) {
          units[at] = mark.tone[tone - 1];
          break;
        }
      }
    }
  }
  for (const auto& unit : units) out += unit;
  return out;
}

}  // namespace

std::string pinyin_with_tone_marks(std::string_view numbered) {
  std::string out;
  std::size_t i = 0;
  while (i < numbered.size()) {
    if (!is_letter(numbered[i])) {
      out += numbered[i++];
      continue;
    }
    std::size_t end = i;
    while (end < numbered.size() && (is_letter(numbered[end]) || numbered[end] == ':' || numbered[end] == '^')) ++end;
    const std::string_view letters = numbered.substr(i, end - i);
    if (end < numbered.size() && numbered[end] >= '1' && numbered[end] <= '5') {
      out += marked(letters, numbered[end] - '0');
      i = end + 1;
    } else {
      out += marked(letters, 0);
      i = end;
    }
  }
  return out;
}

}  // namespace ruvo::desktop::readers
