// The fields of a term as a save request names them. The three fields every
// reply carries when stored, by key and by the label a person types, are
// protocol::FIELD_LABELS: ruvo shows them under the same labels.
#pragma once

#include "common/json.hpp"
#include "common/result.hpp"

namespace ruvo::desktop {

using common::JsonValue;

// Turns the "fields" of a save request into stored form: an object whose
// members are strings, the three known fields under their keys whether they
// came by label ("定义") or by key in any ASCII case ("Definition"), every
// other member under its own name. Names are trimmed of white space.
// Returns the object, or an error whose message says in Chinese what is
// wrong: "fields" is not an object, a member is not a string, a name is
// blank, or one field is given twice (by label and by key, say) with
// different values.
common::Result<JsonValue> normalize_fields(const JsonValue& fields);

}  // namespace ruvo::desktop
