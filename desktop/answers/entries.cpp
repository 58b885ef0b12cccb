#include "answers/entries.hpp"

#include "answers/entry_json.hpp"
#include "answers/store_errors.hpp"
#include "common/utf8.hpp"
#include "protocol/fields.hpp"
#include "store/entry_rules.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace ruvo::desktop::answers {

namespace {

common::Error bad_input(std::string message) {
  return common::failure(common::ErrorKind::kBadInput, std::move(message));
}

// A whole non-negative decimal number of at most 18 digits, or nothing.
std::optional<std::int64_t> decimal(std::string_view text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

common::Error unknown_entry(std::string_view id_text) {
  return common::failure(common::ErrorKind::kNotFound, "没有这个词条：" + std::string(id_text));
}

// The draft a save request describes.
Result<store::TermDraft> draft_of(const JsonValue& body) {
  store::TermDraft draft;
  auto term = body.find(std::string(protocol::kTermKey));
  if (term == body.end() || !term->is_string()) return bad_input("term 必须是字符串：要保存的词");
  auto checked = store::checked_term(term->get_ref<const std::string&>());
  if (!checked) return bad_input(checked.error().text());
  draft.term = std::move(checked).value();

  draft.lang = std::string(protocol::kDefaultLang);
  if (auto lang = body.find(std::string(protocol::kLangKey)); lang != body.end()) {
    if (!lang->is_string()) return bad_input("lang 必须是字符串");
    auto known = store::checked_lang(lang->get_ref<const std::string&>());
    if (!known) return bad_input(known.error().text());
    draft.lang = std::move(known).value();
  }

  draft.category_id = std::string(protocol::kTermCategory);
  if (auto category = body.find(std::string(protocol::kCategoryKey)); category != body.end()) {
    if (!category->is_string() || common::is_blank(category->get_ref<const std::string&>())) {
      return bad_input("categoryId 必须是非空字符串");
    }
    draft.category_id = category->get<std::string>();
  }

  if (auto fields = body.find(std::string(protocol::kFieldsKey)); fields != body.end()) {
    auto normalized = store::normalize_fields(*fields);
    if (!normalized) return bad_input(normalized.error().text());
    draft.fields = std::move(normalized).value();
  }

  if (auto aliases = body.find("aliases"); aliases != body.end()) {
    auto normalized = store::normalize_aliases(*aliases, draft.term);
    if (!normalized) return bad_input(normalized.error().text());
    draft.aliases = std::move(normalized).value();
  }
  return draft;
}

}  // namespace

Result<JsonValue> save(Context& ctx, const JsonValue& body) {
  auto draft = draft_of(body);
  if (!draft) return draft.error();
  auto saved = ctx.store.save(*draft);
  // The fields given fit, but with those stored beside them the entry may
  // not: that refusal is the request's, not the store's.
  if (!saved && saved.error().kind == common::ErrorKind::kBadInput) return saved.error();
  if (!saved) return ctx.store.damaged() ? damaged_store_refusal() : store_failure(saved.error());
  // Found in texts from now on, without the names being read again.
  ctx.names.note_saved(*saved);
  JsonValue reply = JsonValue::object();
  reply["ok"] = true;
  put_entry(reply, *saved);
  return reply;
}

Result<JsonValue> search(Context& ctx, const QueryParameters& query) {
  auto number = [&](const char* name, int fallback, int most) -> std::optional<int> {
    auto it = query.find(name);
    if (it == query.end() || it->second.empty()) return fallback;
    auto value = decimal(it->second);
    if (!value || *value > most) return std::nullopt;
    return static_cast<int>(*value);
  };
  auto limit = number("limit", 20, kMaxPage);
  if (!limit || *limit == 0) return bad_input("limit 要是 1 到 " + std::to_string(kMaxPage) + " 的整数");
  auto offset = number("offset", 0, 1'000'000'000);
  if (!offset) return bad_input("offset 要是不小于 0 的整数");
  auto q = query.find("q");
  auto page = ctx.store.search(q == query.end() ? std::string_view() : std::string_view(q->second), *limit, *offset);
  if (!page) return store_failure(page.error());
  JsonValue reply = JsonValue::object();
  reply["ok"] = true;
  reply["total"] = page->total;
  reply["totalExact"] = page->total_exact;
  if (page->partial) reply["partial"] = true;
  JsonValue terms = JsonValue::array();
  for (const auto& found : page->terms) terms.push_back(term_json(found, true));
  reply["terms"] = std::move(terms);
  // A search that finds nothing says what the text may have meant, as a
  // missed lookup does, without counting it among the misses: a person
  // typing is not asking yet.
  if (page->total == 0 && q != query.end() && !common::is_blank(q->second)) {
    auto near = ctx.store.suggest(q->second);
    reply["suggestions"] = near ? JsonValue(*near) : JsonValue::array();
  }
  return reply;
}

Result<JsonValue> entry(Context& ctx, std::string_view id_text) {
  auto id = decimal(id_text);
  if (!id) return unknown_entry(id_text);
  auto found = ctx.store.get(*id);
  if (!found) return store_failure(found.error());
  if (!*found) return unknown_entry(id_text);
  JsonValue reply = JsonValue::object();
  reply["ok"] = true;
  reply["term"] = term_json(**found);
  return reply;
}

Result<JsonValue> remove_entry(Context& ctx, std::string_view id_text) {
  auto id = decimal(id_text);
  if (!id) return unknown_entry(id_text);
  auto removed = ctx.store.remove(*id);
  if (!removed) return store_failure(removed.error());
  if (!*removed) return unknown_entry(id_text);
  JsonValue reply = JsonValue::object();
  reply["ok"] = true;
  reply["id"] = std::to_string(*id);
  return reply;
}

}  // namespace ruvo::desktop::answers
