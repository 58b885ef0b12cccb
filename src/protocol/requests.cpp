#include "protocol/requests.hpp"

#include "protocol/fields.hpp"

namespace ruvo::protocol {
namespace {

std::string key(std::string_view name) { return std::string(name); }

}  // namespace

JsonValue lookup_body(std::string_view text) {
  JsonValue body = JsonValue::object();
  body[key(kTextKey)] = std::string(text);
  return body;
}

JsonValue explain_body(const ExplainQuery& query) {
  JsonValue body = JsonValue::object();
  body[key(kAllowCloudKey)] = query.allow_cloud;
  body[key(kContextKey)] = "";
  body[key(kLangKey)] = query.lang;
  body[key(kModeKey)] = query.mode;
  body[key(kTextKey)] = query.text;
  return body;
}

JsonValue save_body(const SaveEntry& entry) {
  JsonValue body = JsonValue::object();
  body[key(kCategoryKey)] = std::string(kTermCategory);
  body[key(kFieldsKey)] = entry.fields;
  body[key(kLangKey)] = entry.lang;
  body[key(kTermKey)] = entry.term;
  return body;
}

}  // namespace ruvo::protocol
