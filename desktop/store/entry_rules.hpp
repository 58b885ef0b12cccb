// What an entry may hold, as the store keeps it: a term on one line and not
// too long, a known language, aliases like terms, fields that are strings,
// and no more of any of them than keeps the largest reply about the entry
// well inside what ruvo reads (1 MiB). These check and tidy what a save
// request or a file gives; nothing here touches the store. The three fields every reply carries when stored, by key
// and by the label a person types, are protocol::FIELD_LABELS: ruvo shows
// them under the same labels.
#pragma once

#include "common/json.hpp"
#include "common/result.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::store {

using common::JsonValue;
using common::Result;

// The most characters a stored term (or alias) has: a person's save, an import, a dictionary's
// headword (real dictionaries have long ones).
inline constexpr std::size_t kMaxTermChars = 256;

// The languages an entry is written in.
inline constexpr std::string_view kTermLangs[] = {"zh", "en"};

// Most aliases one entry may carry.
inline constexpr std::size_t kMaxAliases = 32;

// Bounds on an entry's fields, in the bytes a JSON reply spends on them
// (field_reply_bytes): one value, and every value of the entry together. A
// lookup reply carries the three known fields twice (at its top and in
// "fields"), so the largest stays near a quarter of ruvo's 1 MiB.
inline constexpr std::size_t kMaxFieldBytes = 65536;
inline constexpr std::size_t kMaxFieldsBytes = 131072;
// Most fields one entry may have; a field's name is at most kMaxTermChars
// characters.
inline constexpr std::size_t kMaxFields = 64;

// The bytes a JSON reply writes for the text inside its quotes: one a byte,
// two for a quotation mark, a backslash and the control characters that
// have a short escape (\n, \t, …), six for any other control character
// (\u0001). For text without those it is its UTF-8 size.
std::size_t field_reply_bytes(std::string_view text);

// True when the text holds a line break (LF, CR, VT, FF, NEL, U+2028 or
// U+2029).
bool has_line_break(std::string_view text);

// True when the text has at most kMaxTermChars characters.
bool within_term_length(std::string_view text);

// A term as a save request or a file gives it, trimmed: not blank, on one
// line, without a NUL, not too long, and not made only of characters that
// its match key drops (zero-width spaces, soft hyphens and the like, which
// would give every such text one empty key); else the error says which, in
// Chinese.
Result<std::string> checked_term(std::string_view given);

// One of kTermLangs; else an error naming the accepted ones.
Result<std::string> checked_lang(std::string_view lang);

// Checks and tidies aliases as a save request or a file gives them: each
// trimmed, not blank, on one line, at most as long as a term; duplicates
// (by match key) and the term itself dropped. The error says in Chinese
// what is wrong.
Result<std::vector<std::string>> normalize_aliases(const JsonValue& aliases, std::string_view term);

// Turns the "fields" of a save request into stored form: an object whose
// members are strings, the three known fields under their keys whether they
// came by label ("定义") or by key in any ASCII case ("Definition"), every
// other member under its own name. Names are trimmed of white space.
// Returns the object, or an error whose message says in Chinese what is
// wrong: "fields" is not an object, a member is not a string, a name is
// blank or too long, one field is given twice (by label and by key, say)
// with different values, or the fields are past a bound (check_field_bounds).
Result<JsonValue> normalize_fields(const JsonValue& fields);

// The bounds of an entry's fields, as they are to be stored: at most
// kMaxFields members, each value at most kMaxFieldBytes and all of them
// together at most kMaxFieldsBytes (field_reply_bytes). The error names the
// bound in Chinese. A save checks the fields it gives and, once merged with
// those stored, the entry's.
Result<void> check_field_bounds(const JsonValue& fields);

}  // namespace ruvo::desktop::store
