// A dictd article made to read cleanly: its heading lines, indentation and {references}.
#include "readers/dictd.hpp"

#include "common/utf8.hpp"
#include "readers/html_tree.hpp"
#include "readers/markup_text.hpp"
#include "readers/read_support.hpp"
#include "readers/sanitize.hpp"

#include <set>

namespace ruvo::desktop::readers {
namespace {

bool is_blank_char(char c) { return c == ' ' || c == '\t'; }

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    auto end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == text.size()) break;
    pos = end + 1;
  }
  return lines;
}

// How dictd compares headwords when the index was not made with every character: ASCII letters
// without case, digits, single spaces; other ASCII punctuation left out; other bytes kept.
std::string match_key(std::string_view text) {
  std::string key;
  bool space = false;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == ' ' || c == '\t') {
      space = !key.empty();
    } else if (u >= 0x80 || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) {
      if (space) key += ' ';
      space = false;
      key += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
  }
  return key;
}

std::size_t indentation(std::string_view line) {
  std::size_t n = 0;
  while (n < line.size() && is_blank_char(line[n])) ++n;
  return n;
}

// True for a {label (URL)} reference: a link out of the dictionary.
bool is_outside_link(std::string_view target) {
  if (target.find("://") != std::string_view::npos) return true;
  const auto open = target.rfind(" (");
  if (open == std::string_view::npos || target.back() != ')') return false;
  const std::string_view inside = target.substr(open + 2);
  return inside.find("://") != std::string_view::npos || inside.find(".htm") != std::string_view::npos;
}

}  // namespace

DictdArticle clean_dictd_article(std::string_view raw, const std::vector<std::string>& names) {
  DictdArticle out;
  std::vector<std::string_view> lines = split_lines(raw);
  // The heading: lines at the top, not indented, each one of the article's names.
  std::vector<std::string> keys;
  for (const auto& name : names) keys.push_back(match_key(name));
  std::vector<std::string> spelled(names.size());
  std::size_t first_body = 0;
  std::size_t heading = 0;  // the name the first line spells: the headword
  while (first_body < lines.size()) {
    const std::string_view line = lines[first_body];
    if (line.empty() || is_blank_char(line[0])) break;
    const std::string key = match_key(line);
    bool matched = false;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      if (!key.empty() && key == keys[i]) {
        if (spelled[i].empty()) spelled[i] = std::string(common::trim_unicode_space(line));
        if (!matched && first_body == 0) heading = i;
        matched = true;
      }
    }
    if (!matched) break;
    ++first_body;
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::string name = spelled[i].empty() ? names[i] : spelled[i];
    if (i == heading) {
      out.headword = std::move(name);
    } else {
      out.aliases.push_back(std::move(name));
    }
  }
  // The common indentation of the body; its first line's own indentation goes alone, since a
  // part of speech often sits less indented above the definition.
  std::size_t first_text = first_body;
  while (first_text < lines.size() && common::is_blank(lines[first_text])) ++first_text;
  std::size_t common_indent = std::string_view::npos;
  for (std::size_t i = first_text + 1; i < lines.size(); ++i) {
    if (common::is_blank(lines[i])) continue;
    common_indent = std::min(common_indent, indentation(lines[i]));
  }
  std::string body;
  for (std::size_t i = first_text; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (i == first_text) {
      line.remove_prefix(indentation(line));
    } else if (!common::is_blank(line)) {
      line.remove_prefix(std::min(common_indent, indentation(line)));
    }
    body.append(line);
    body += '\n';
  }
  body = tidy_text(body);
  // {references}: the braces go, the word stays in the text and joins see_also.
  std::vector<TextPiece> pieces;
  std::set<std::string> seen;
  std::size_t pos = 0;
  bool any_reference = false;
  while (pos < body.size()) {
    const auto open = body.find('{', pos);
    const auto close = open == std::string::npos ? std::string::npos : body.find('}', open + 1);
    const auto nested = open == std::string::npos ? std::string::npos : body.find('{', open + 1);
    if (open == std::string::npos || close == std::string::npos) {
      pieces.push_back({body.substr(pos), ""});
      break;
    }
    if (nested != std::string::npos && nested < close) {
      pieces.push_back({body.substr(pos, nested - pos), ""});
      pos = nested;
      continue;
    }
    if (open > pos) pieces.push_back({body.substr(pos, open - pos), ""});
    const std::string inner = body.substr(open + 1, close - open - 1);
    const std::string target = collapse_spaces(inner);
    if (target.empty() || is_outside_link(target)) {
      pieces.push_back({inner, ""});
    } else {
      pieces.push_back({inner, target});
      any_reference = true;
      if (seen.insert(target).second) out.see_also.push_back(target);
    }
    pos = close + 1;
  }
  for (const auto& piece : pieces) out.text += piece.text;
  out.text = tidy_text(out.text);
  if (any_reference) out.html = plain_text_html(pieces);
  return out;
}

std::string dictd_short_name(std::string_view raw) {
  for (const auto line : split_lines(raw)) {
    const std::string_view trimmed = common::trim_unicode_space(line);
    if (trimmed.empty() || match_key(trimmed) == "00 database short" || match_key(trimmed) == "00databaseshort") continue;
    return std::string(trimmed);
  }
  return "";
}

std::string dictd_info_text(std::string_view raw) {
  std::vector<std::string_view> lines = split_lines(raw);
  std::size_t first = 0;
  while (first < lines.size() && common::is_blank(lines[first])) ++first;
  if (first < lines.size()) {
    const std::string key = match_key(lines[first]);
    if (key == "00databaseinfo" || key == "00 database info") ++first;
  }
  std::size_t common_indent = std::string_view::npos;
  for (std::size_t i = first; i < lines.size(); ++i) {
    if (!common::is_blank(lines[i])) common_indent = std::min(common_indent, indentation(lines[i]));
  }
  std::string text;
  for (std::size_t i = first; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (!common::is_blank(line)) line.remove_prefix(std::min(common_indent, indentation(line)));
    text.append(line);
    text += '\n';
  }
  return tidy_text(text);
}

}  // namespace ruvo::desktop::readers
