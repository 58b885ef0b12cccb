// Reading the service's replies for a person: the labelled fields shared by
// lookup and explain, and the small member lookups every command needs.
#pragma once

#include "common/json.hpp"
#include "common/result.hpp"
#include "protocol/fields.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace ruvo::cli {

using common::JsonValue;

// The reply fields shown to a person, in the order they are shown.
using protocol::FIELD_LABELS;
using protocol::FieldLabel;

// lookup, explain and save all report a service that could not be brought up
// with this short text.
inline constexpr std::string_view kServiceDownMessage = "Ruvo 服务没起来";

// What a reply comes to: the text for standard output, or the failure message
// that the command hands to fail_and_exit.
using Rendered = common::Result<std::string>;

// The member's value when `reply` is an object holding `key`; nullptr
// otherwise (a reply that is not an object has no members).
const JsonValue* find_member(const JsonValue& reply, std::string_view key);

// The member's text when it is a string; nothing when it is missing or of
// another type.
std::optional<std::string_view> string_member(const JsonValue& reply, std::string_view key);

// True only when the member is the JSON boolean true.
bool is_true_member(const JsonValue& reply, std::string_view key);

// True only when the member is the JSON boolean false.
bool is_false_member(const JsonValue& reply, std::string_view key);

// The member's text, exactly as received, when it is a string that is not
// blank once Unicode white space is trimmed from both ends; nothing otherwise.
std::optional<std::string_view> shown_field(const JsonValue& reply, std::string_view key);

// How the labelled fields are laid out.
enum class FieldLayout {
  kTight,   // one "label：value" line per field (lookup)
  kSpaced,  // an empty line before each field's line (explain)
};

// One line per shown field of FIELD_LABELS, in table order: the label, the
// full-width colon, the value and a line feed. Fields that are not shown
// leave no line at all.
std::string render_fields(const JsonValue& reply, FieldLayout layout);

// The reply's "message" when it is a string, otherwise `fallback`.
std::string failure_message(const JsonValue& reply, std::string_view fallback);

}  // namespace ruvo::cli
