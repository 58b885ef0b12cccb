// The members of the request and reply bodies that both programs name, and
// the three labelled fields of a term.
#pragma once

#include <string_view>

namespace ruvo::protocol {

// Request members.
inline constexpr std::string_view kTextKey = "text";
inline constexpr std::string_view kModeKey = "mode";
inline constexpr std::string_view kLangKey = "lang";
inline constexpr std::string_view kAllowCloudKey = "allowCloud";
inline constexpr std::string_view kContextKey = "context";
inline constexpr std::string_view kTermKey = "term";
inline constexpr std::string_view kFieldsKey = "fields";
inline constexpr std::string_view kCategoryKey = "categoryId";

// Every save from ruvo files its term under this category.
inline constexpr std::string_view kTermCategory = "term";
inline constexpr std::string_view kDefaultMode = "auto";
inline constexpr std::string_view kDefaultLang = "zh";

struct FieldLabel {
  std::string_view key;    // the reply member
  std::string_view label;  // what a person reads before the value, and may type as a field's name
};

// The reply fields shown to a person, in the order they are shown.
inline constexpr FieldLabel FIELD_LABELS[] = {
    {"definition", "定义"},
    {"plain", "通俗解释"},
    {"example", "例子"},
};

}  // namespace ruvo::protocol
