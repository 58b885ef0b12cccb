#include "platform/win_text.hpp"

#include "common/utf8.hpp"

#include <algorithm>

namespace ruvo::platform::win {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool is_high_surrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void append_utf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void append_utf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

// The length a sequence with this lead byte has when it is well-formed; 0 for
// a byte that cannot start a multi-byte sequence.
std::size_t sequence_length(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

// How many bytes at the end of `bytes` are the valid start of a multi-byte
// sequence that is still missing bytes (0 to 3).
std::size_t incomplete_tail(std::string_view bytes) {
  std::size_t start = bytes.size();
  for (int k = 0; k < 3 && start > 0 && (static_cast<unsigned char>(bytes[start - 1]) & 0xC0) == 0x80; ++k) {
    --start;
  }
  if (start == 0) return 0;
  const std::size_t lead = start - 1;
  const std::size_t have = bytes.size() - lead;
  if (sequence_length(static_cast<unsigned char>(bytes[lead])) <= have) return 0;
  // The decoder's ill-formed part runs to the end only when every byte after
  // the lead is an allowed continuation.
  const auto step = common::decode_utf8(bytes, lead);
  return !step.valid && step.length == have ? have : 0;
}

bool is_blank_char(char c) { return c == ' ' || c == '\t'; }

char16_t fold_ascii(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

// The name of a "NAME=value" entry; a leading '=' belongs to the name.
std::u16string_view entry_name(std::u16string_view entry) {
  const auto eq = entry.find(u'=', 1);
  return eq == std::u16string_view::npos ? entry : entry.substr(0, eq);
}

bool names_equal(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return fold_ascii(x) == fold_ascii(y); });
}

bool name_less(std::u16string_view a, std::u16string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](char16_t x, char16_t y) { return fold_ascii(x) < fold_ascii(y); });
}

}  // namespace

std::u16string utf8_to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t pos = 0;
  while (pos < text.size()) {
    const auto byte = static_cast<unsigned char>(text[pos]);
    if (byte < 0x80) {
      out += static_cast<char16_t>(byte);
      ++pos;
      continue;
    }
    const auto step = common::decode_utf8(text, pos);
    append_utf16(out, step.valid ? step.scalar : kReplacement);
    pos += step.length;
  }
  return out;
}

std::string utf16_to_utf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char32_t unit = text[i];
    if (is_high_surrogate(unit) && i + 1 < text.size() && is_low_surrogate(text[i + 1])) {
      append_utf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else if (is_high_surrogate(unit) || is_low_surrogate(unit)) {
      append_utf8(out, kReplacement);
    } else {
      append_utf8(out, unit);
    }
  }
  return out;
}

std::u16string Utf8ToUtf16Stream::feed(std::string_view bytes) {
  std::string data = std::move(pending_);
  pending_.clear();
  data.append(bytes);
  const std::size_t keep = incomplete_tail(data);
  pending_.assign(data, data.size() - keep, keep);
  data.resize(data.size() - keep);
  return utf8_to_utf16(data);
}

std::u16string Utf8ToUtf16Stream::finish() {
  std::u16string out = utf8_to_utf16(pending_);
  pending_.clear();
  return out;
}

std::string ConsoleInputDecoder::feed(std::u16string_view units) {
  std::string out;
  const auto emit = [&](char32_t c) {
    if (ended_) return;
    if (pending_cr_) {
      pending_cr_ = false;
      if (c == U'\n') {
        out += '\n';
        at_line_start_ = true;
        return;
      }
      out += '\r';
      at_line_start_ = false;
    }
    if (c == U'\r') {
      pending_cr_ = true;
    } else if (c == 0x1A && at_line_start_) {
      ended_ = true;
    } else {
      append_utf8(out, c);
      at_line_start_ = c == U'\n';
    }
  };
  for (const char16_t unit : units) {
    if (ended_) break;
    if (is_high_surrogate(unit)) {
      if (pending_high_ != 0) emit(kReplacement);
      pending_high_ = unit;
    } else if (is_low_surrogate(unit)) {
      emit(pending_high_ != 0 ? 0x10000 + ((char32_t{pending_high_} - 0xD800) << 10) + (unit - 0xDC00) : kReplacement);
      pending_high_ = 0;
    } else {
      if (pending_high_ != 0) emit(kReplacement);
      pending_high_ = 0;
      emit(unit);
    }
  }
  return out;
}

std::vector<std::string> split_command_line(std::string_view line) {
  std::vector<std::string> words;
  if (line.empty()) return words;
  std::size_t i = 0;

  // The program's own name: no escapes, so a path like "C:\dir\" stays whole.
  std::string program;
  if (line[0] == '"') {
    for (i = 1; i < line.size() && line[i] != '"'; ++i) program += line[i];
    if (i < line.size()) ++i;
  } else {
    for (; i < line.size() && !is_blank_char(line[i]); ++i) program += line[i];
  }
  words.push_back(std::move(program));

  while (i < line.size() && is_blank_char(line[i])) ++i;
  if (i == line.size()) return words;
  std::string word;
  std::size_t backslashes = 0;
  int quotes = 0;  // 0 outside quoting; 1 inside; 2 only within a run of quotes
  while (i < line.size()) {
    const char c = line[i];
    if (is_blank_char(c) && quotes == 0) {
      words.push_back(std::move(word));
      word.clear();
      while (i < line.size() && is_blank_char(line[i])) ++i;
      if (i == line.size()) return words;
      backslashes = 0;
    } else if (c == '\\') {
      word += c;
      ++backslashes;
      ++i;
    } else if (c == '"') {
      word.resize(word.size() - backslashes / 2);
      if (backslashes % 2 == 0) {
        ++quotes;
      } else {
        word.back() = '"';
      }
      ++i;
      backslashes = 0;
      for (; i < line.size() && line[i] == '"'; ++i) {
        if (++quotes == 3) {
          word += '"';
          quotes = 0;
        }
      }
      if (quotes == 2) quotes = 0;
    } else {
      word += c;
      backslashes = 0;
      ++i;
    }
  }
  words.push_back(std::move(word));
  return words;
}

std::string quote_argument(std::string_view argument) {
  if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) {
    return std::string(argument);
  }
  std::string out = "\"";
  std::size_t i = 0;
  for (;;) {
    std::size_t backslashes = 0;
    for (; i < argument.size() && argument[i] == '\\'; ++i) ++backslashes;
    if (i == argument.size()) {
      // Doubled, so that the closing quote stays a quote.
      out.append(backslashes * 2, '\\');
      break;
    }
    if (argument[i] == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    out += argument[i];
    ++i;
  }
  out += '"';
  return out;
}

std::string build_command_line(std::string_view program, const std::vector<std::string>& args) {
  std::string line = "\"";
  line += program;
  line += '"';
  for (const auto& arg : args) {
    line += ' ';
    line += quote_argument(arg);
  }
  return line;
}

std::u16string environment_block(const std::vector<std::u16string>& current,
                                 const std::vector<std::pair<std::u16string, std::u16string>>& extra) {
  std::vector<std::u16string> entries;
  for (const auto& entry : current) {
    const auto name = entry_name(entry);
    const bool overridden = std::any_of(extra.begin(), extra.end(),
                                        [&](const auto& e) { return names_equal(name, e.first); });
    if (!overridden) entries.push_back(entry);
  }
  for (const auto& [name, value] : extra) entries.push_back(name + u"=" + value);
  // Windows expects the block sorted by name, case-insensitively.
  std::stable_sort(entries.begin(), entries.end(), [](const std::u16string& a, const std::u16string& b) {
    return name_less(entry_name(a), entry_name(b));
  });
  std::u16string block;
  for (const auto& entry : entries) {
    block += entry;
    block += u'\0';
  }
  // An empty block still needs its two NULs.
  if (entries.empty()) block += u'\0';
  block += u'\0';
  return block;
}

std::optional<std::string> parent_folder(const std::string& path) {
  const auto sep = path.find_last_of("\\/");
  if (sep == std::string::npos) return std::nullopt;
  const bool root = sep == 0 || (sep == 2 && path[1] == ':');
  return path.substr(0, root ? sep + 1 : sep);
}

std::optional<std::string> socket_error_text(int code) {
  switch (code) {
    case 10035:  // WSAEWOULDBLOCK
      return "A non-blocking socket operation could not be completed immediately.";
    case 10053:  // WSAECONNABORTED
      return "An established connection was aborted by the software in your host machine.";
    case 10054:  // WSAECONNRESET
      return "An existing connection was forcibly closed by the remote host.";
    case 10060:  // WSAETIMEDOUT
      return "A connection attempt failed because the connected party did not properly respond after a period "
             "of time, or established connection failed to respond.";
    case 10061:  // WSAECONNREFUSED
      return "No connection could be made because the target machine actively refused it.";
    default:
      return std::nullopt;
  }
}

std::string one_line_message(std::string message) {
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n')) message.pop_back();
  std::string line;
  line.reserve(message.size());
  for (std::size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '\r' || message[i] == '\n') {
      while (i + 1 < message.size() && (message[i + 1] == '\r' || message[i + 1] == '\n')) ++i;
      line += ' ';
    } else {
      line += message[i];
    }
  }
  return line;
}

}  // namespace ruvo::platform::win
