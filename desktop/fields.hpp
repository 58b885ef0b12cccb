// The fields of a term as a save request names them.
#pragma once

#include "common/json.hpp"

#include <string>
#include <string_view>
#include <variant>

namespace ruvo::desktop {

using common::JsonValue;

// The three fields every reply carries when stored, by key and by the label
// a person types, in display order.
struct FieldName {
  std::string_view key;
  std::string_view label;
};
inline constexpr FieldName kFieldNames[] = {
    {"definition", "定义"},
    {"plain", "通俗解释"},
    {"example", "例子"},
};

// Turns the "fields" of a save request into stored form: an object whose
// members are strings, the three known fields under their keys whether they
// came by label ("定义") or by key in any ASCII case ("Definition"), every
// other member under its own name. Names are trimmed of white space.
// Returns the object, or a Chinese message saying what is wrong: "fields" is
// not an object, a member is not a string, a name is blank, or one field is
// given twice (by label and by key, say) with different values.
std::variant<JsonValue, std::string> normalize_fields(const JsonValue& fields);

}  // namespace ruvo::desktop
