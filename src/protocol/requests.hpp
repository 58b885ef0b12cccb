// The request bodies ruvo sends, built in one place for the person's
// commands and the MCP tools alike.
#pragma once

#include "common/json.hpp"

#include <string>
#include <string_view>

namespace ruvo::protocol {

using common::JsonValue;

struct ExplainQuery {
  std::string text;  // already prepared by the caller (trimmed, cut)
  std::string mode = "auto";
  std::string lang = "zh";
  bool allow_cloud = true;
};

struct SaveEntry {
  std::string term;  // exactly as given
  JsonValue fields = JsonValue::object();  // any JSON value; the service checks it
  std::string lang = "zh";
};

// {"text": text}
JsonValue lookup_body(std::string_view text);
// {"allowCloud", "context": "", "lang", "mode", "text"}
JsonValue explain_body(const ExplainQuery& query);
// {"categoryId": "term", "fields", "lang", "term"}
JsonValue save_body(const SaveEntry& entry);

}  // namespace ruvo::protocol
