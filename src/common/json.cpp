#include "common/json.hpp"

#include <algorithm>
#include <string>

namespace ruvo::common {
namespace {

// nlohmann's parser has no depth limit of its own. Counting the opening
// brackets is a single vectorised pass; only a document holding enough of
// them to possibly reach the limit is walked for its real depth.
struct DepthFault {
  std::size_t line = 0;
  std::size_t column = 0;
};

std::optional<DepthFault> find_nesting_fault(std::string_view text) {
  const auto brackets = std::count_if(text.begin(), text.end(),
                                      [](char c) { return c == '[' || c == '{'; });
  if (brackets < kJsonNestingLimit) return std::nullopt;

  int depth = 0;
  bool in_string = false;
  bool escaped = false;
  std::size_t line = 1;
  std::size_t column = 0;
  for (const char c : text) {
    ++column;
    if (c == '\n') {
      ++line;
      column = 0;
    }
    if (in_string) {
      if (escaped) {
        escaped = false;
      } else if (c == '\\') {
        escaped = true;
      } else if (c == '"') {
        in_string = false;
      }
      continue;
    }
    switch (c) {
      case '"':
        in_string = true;
        break;
      case '[':
      case '{':
        if (++depth >= kJsonNestingLimit) return DepthFault{line, column};
        break;
      case ']':
      case '}':
        // A stray closing bracket is a syntax error the parser reports.
        if (depth > 0) --depth;
        break;
      default:
        break;
    }
  }
  return std::nullopt;
}

// "[json.exception.parse_error.101] parse error at line 1, ..." reads better
// without the bracketed exception name.
std::string without_exception_prefix(const char* what) {
  std::string_view text(what);
  if (!text.empty() && text.front() == '[') {
    const auto close = text.find("] ");
    if (close != std::string_view::npos) text.remove_prefix(close + 2);
  }
  return std::string(text);
}

// Records where the parser gave up. The DOM parser's exception for a number
// that overflows carries no position, so on that path the text is read once
// more through this handler, whose error callback receives the byte offset.
struct ErrorPosition {
  std::size_t offset = 0;
  bool null() { return true; }
  bool boolean(bool) { return true; }
  bool number_integer(JsonValue::number_integer_t) { return true; }
  bool number_unsigned(JsonValue::number_unsigned_t) { return true; }
  bool number_float(JsonValue::number_float_t, const JsonValue::string_t&) { return true; }
  bool string(JsonValue::string_t&) { return true; }
  bool binary(JsonValue::binary_t&) { return true; }
  bool start_object(std::size_t) { return true; }
  bool key(JsonValue::string_t&) { return true; }
  bool end_object() { return true; }
  bool start_array(std::size_t) { return true; }
  bool end_array() { return true; }
  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) {
    offset = position;
    return false;
  }
};

std::string position_prefix(std::string_view text, std::size_t offset) {
  std::size_t line = 1;
  std::size_t column = 0;
  for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
    ++column;
    if (text[i] == '\n') {
      ++line;
      column = 0;
    }
  }
  return "parse error at line " + std::to_string(line) + ", column " + std::to_string(column) + ": ";
}

}  // namespace

Result<JsonValue> parse_json(std::string_view text) {
  // nlohmann skips a leading byte-order mark; a JSON text never starts with
  // one, and a line of the agent protocol beginning with it is not JSON.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") {
    return failure(
        "parse error at line 1, column 1: syntax error while parsing value - "
        "a byte-order mark is not allowed");
  }
  if (const auto fault = find_nesting_fault(text)) {
    return failure("parse error at line " + std::to_string(fault->line) + ", column " +
                   std::to_string(fault->column) + ": nesting deeper than " +
                   std::to_string(kJsonNestingLimit - 1) + " levels");
  }
  try {
    return JsonValue::parse(text.begin(), text.end());
  } catch (const JsonValue::parse_error& e) {
    return failure(without_exception_prefix(e.what()));
  } catch (const JsonValue::exception& e) {
    ErrorPosition where;
    JsonValue::sax_parse(text.begin(), text.end(), &where);
    return failure(position_prefix(text, where.offset) + without_exception_prefix(e.what()));
  } catch (const std::exception& e) {
    return failure(e.what());
  }
}

std::string to_compact(const JsonValue& value) {
  return value.dump(-1, ' ', false, JsonValue::error_handler_t::replace);
}

std::string to_pretty(const JsonValue& value) {
  return value.dump(2, ' ', false, JsonValue::error_handler_t::replace);
}

}  // namespace ruvo::common
