#include "http/routes.hpp"

#include "common/utf8.hpp"
#include "http/token.hpp"
#include "protocol/fields.hpp"
#include "protocol/routes.hpp"
#include "store/entry_rules.hpp"
#include "store/term_file.hpp"

#include <exception>
#include <iterator>
#include <string>

namespace ruvo::desktop {

namespace {

using Handler = Reply (*)(ServiceContext&, const JsonValue&);

Reply health_route(ServiceContext& ctx, const JsonValue&) { return handle_health(ctx); }

// The wire contract names each route; this table says who answers it.
struct RouteHandler {
  protocol::Route route;
  Handler handler;
};

constexpr RouteHandler kHandlers[] = {
    {protocol::kHealthRoute, health_route},
    {protocol::kLookupRoute, handle_lookup},
    {protocol::kSaveRoute, handle_save},
    {protocol::kExplainRoute, handle_explain},
};
static_assert(std::size(kHandlers) == std::size(protocol::kRoutes), "every route of the contract is answered");

// Routes of the service that ruvo does not call: what the desktop side of
// the dictionary reads.
constexpr protocol::Route kMissesRoute{"GET", "/v1/misses", 0};
constexpr RouteHandler kServiceHandlers[] = {
    {kMissesRoute, [](ServiceContext& ctx, const JsonValue&) { return handle_misses(ctx); }},
};

Reply bad_request(std::string_view message) { return error_reply(400, "bad_request", message); }

constexpr std::string_view kTermsPath = "/v1/terms";
constexpr int kMaxPage = 200;

// Runs a route, turning anything it throws into a JSON 500 rather than the
// end of the service.
template <typename Route>
Reply guarded(Route route) {
  try {
    return route();
  } catch (const std::exception& e) {
    return error_reply(500, "internal", std::string("服务内部错误：") + e.what());
  }
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

JsonValue term_json(const TermEntry& entry) {
  return JsonValue{{"id", entry.id},          {"term", entry.term},     {"lang", entry.lang},
                   {"fields", entry.fields},  {"aliases", entry.aliases}, {"source", entry.source},
                   {"updatedAt", utc_timestamp(entry.updated_at)}};
}

// GET or DELETE /v1/terms/<id>.
Reply handle_term(ServiceContext& ctx, std::string_view method, std::string_view id_text) {
  if (method != "GET" && method != "DELETE") {
    return error_reply(405, "method_not_allowed", "接口 /v1/terms/<id> 只接受 GET 和 DELETE 请求");
  }
  auto id = decimal(id_text);
  auto unknown = [&] { return error_reply(404, "not_found", "没有这个词条：" + std::string(id_text)); };
  if (!id) return unknown();
  if (method == "DELETE") {
    auto removed = ctx.store.remove(*id);
    if (!removed) return store_failure(removed.error());
    if (!*removed) return unknown();
    Reply reply;
    reply.body["ok"] = true;
    reply.body["id"] = std::to_string(*id);
    return reply;
  }
  auto found = ctx.store.get(*id);
  if (!found) return store_failure(found.error());
  if (!*found) return unknown();
  Reply reply;
  reply.body["ok"] = true;
  reply.body["term"] = term_json(**found);
  return reply;
}

Reply unauthorized() {
  return error_reply(401, "auth",
                     std::string(protocol::kTokenHeader) + " 缺失或不对：请按 explain.json 里的 token 重试");
}

Reply too_large(std::size_t limit) {
  return error_reply(413, "too_large", "请求体超过 " + std::to_string(limit / (1024 * 1024)) + " MiB");
}

bool token_matches(const ServiceContext& ctx, const std::optional<std::string>& token) {
  return token && tokens_equal(*token, ctx.token);
}

}  // namespace

Reply handle_request(ServiceContext& ctx, std::string_view method, std::string_view path,
                     const std::optional<std::string>& token, std::string_view body) {
  return handle_request(ctx, method, path, QueryParameters{}, token, body);
}

Reply handle_request(ServiceContext& ctx, std::string_view method, std::string_view path,
                     const QueryParameters& query, const std::optional<std::string>& token, std::string_view body) {
  if (!token_matches(ctx, token)) return unauthorized();
  if (body.size() > max_body_bytes(method, path)) return too_large(max_body_bytes(method, path));
  if (path == kImportPath) {
    if (method != "POST") return error_reply(405, "method_not_allowed", "接口 /v1/import 只接受 POST 请求");
    return guarded([&] { return handle_import(ctx, query, body); });
  }
  if (path == kExportPath) {
    if (method != "GET") return error_reply(405, "method_not_allowed", "接口 /v1/export 只接受 GET 请求");
    return guarded([&] { return handle_export(ctx); });
  }
  if (path == kTermsPath) {
    if (method != "GET") return error_reply(405, "method_not_allowed", "接口 /v1/terms 只接受 GET 请求");
    return guarded([&] { return handle_terms(ctx, query); });
  }
  if (path.substr(0, kTermsPath.size() + 1) == std::string(kTermsPath) + "/") {
    return guarded([&] { return handle_term(ctx, method, path.substr(kTermsPath.size() + 1)); });
  }

  const RouteHandler* route = nullptr;
  bool path_known = false;
  for (const auto* table : {std::begin(kHandlers), std::begin(kServiceHandlers)}) {
    const auto* end = table == std::begin(kHandlers) ? std::end(kHandlers) : std::end(kServiceHandlers);
    for (const auto* candidate = table; candidate != end; ++candidate) {
      if (candidate->route.path != path) continue;
      path_known = true;
      if (candidate->route.method == method) route = candidate;
    }
  }
  if (!path_known) return error_reply(404, "not_found", "没有这个接口：" + std::string(path));
  if (route == nullptr) {
    return error_reply(405, "method_not_allowed",
                       "接口 " + std::string(path) + " 不接受 " + std::string(method) + " 请求");
  }

  JsonValue parsed = JsonValue::object();
  if (route->route.method == "POST") {
    // The parser takes a NUL for the end of the text and would accept
    // whatever follows it.
    if (body.find('\0') != std::string_view::npos) return bad_request("请求体不是 JSON：含有 NUL 字节");
    auto result = common::parse_json(body);
    if (!result) return bad_request("请求体不是 JSON：" + result.error().text());
    if (!result->is_object()) return bad_request("请求体必须是 JSON 对象");
    parsed = std::move(result).value();
  }
  try {
    return route->handler(ctx, parsed);
  } catch (const std::exception& e) {
    // The routes check every type they read; this is the last guard that
    // keeps one bad request from ending the service.
    return error_reply(500, "internal", std::string("服务内部错误：") + e.what());
  }
}

std::size_t max_body_bytes(std::string_view method, std::string_view path) {
  return method == "POST" && path == kImportPath ? kMaxImportBytes : kMaxBodyBytes;
}

bool runs_long(std::string_view method, std::string_view path) {
  return method == "POST" && (path == protocol::kExplainRoute.path || path == kImportPath);
}

Reply refusal_reply(const ServiceContext& ctx, int status, const std::optional<std::string>& token,
                    std::size_t body_limit) {
  if (!token_matches(ctx, token)) return unauthorized();
  switch (status) {
    case 413:
      return too_large(body_limit);
    case 411:
      return error_reply(411, "length_required", "请求必须带 Content-Length，不接受分块传输的请求体");
    case 400:
      return bad_request("请求格式不对");
    case 404:
      return error_reply(404, "not_found", "没有这个接口");
    case 405:
      return error_reply(405, "method_not_allowed", "不接受这种请求方法");
    default:
      return error_reply(status, "refused", "请求被拒绝（HTTP " + std::to_string(status) + "）");
  }
}

Reply handle_health(ServiceContext& ctx) {
  auto count = ctx.store.count();
  // A damaged store is news for health to give, not a failure of it: the
  // service still answers, and ruvo must keep finding it.
  if (!count && !ctx.store.damaged()) return store_failure(count.error());
  Reply reply;
  reply.body["ok"] = true;
  reply.body["version"] = ctx.version;
  reply.body["protocol"] = kProtocolVersion;
  reply.body["terms"] = count ? JsonValue(*count) : JsonValue(nullptr);
  reply.body["model"] = ctx.model_status;
  if (ctx.store.damaged()) reply.body["store"] = damaged_store_status(ctx.store.damage_detail());
  return reply;
}

Reply handle_lookup(ServiceContext& ctx, const JsonValue& body) {
  auto text = body.find(std::string(protocol::kTextKey));
  if (text == body.end() || !text->is_string()) return bad_request("text 必须是字符串：要查的词");
  Reply reply;
  reply.body["ok"] = true;
  reply.body["hit"] = false;
  const auto& query = text->get_ref<const std::string&>();
  if (common::is_blank(query)) {
    reply.body["suggestions"] = JsonValue::array();
    return reply;
  }

  // Lookup names no language: a Chinese entry comes first, as the glossary
  // and ruvo's default language are Chinese.
  auto found = ctx.store.find_any(query, protocol::kDefaultLang);
  if (!found) return store_failure(found.error());
  if (const auto& entry = *found) {
    reply.body["hit"] = true;
    put_entry(reply.body, *entry);
    return reply;
  }
  put_miss(ctx.store, reply.body, query);
  return reply;
}

Reply handle_terms(ServiceContext& ctx, const QueryParameters& query) {
  auto number = [&](const char* name, int fallback, int most) -> std::optional<int> {
    auto it = query.find(name);
    if (it == query.end() || it->second.empty()) return fallback;
    auto value = decimal(it->second);
    if (!value || *value > most) return std::nullopt;
    return static_cast<int>(*value);
  };
  auto limit = number("limit", 20, kMaxPage);
  if (!limit || *limit == 0) return bad_request("limit 要是 1 到 " + std::to_string(kMaxPage) + " 的整数");
  auto offset = number("offset", 0, 1'000'000'000);
  if (!offset) return bad_request("offset 要是不小于 0 的整数");
  auto q = query.find("q");
  auto page = ctx.store.search(q == query.end() ? std::string_view() : std::string_view(q->second), *limit, *offset);
  if (!page) return store_failure(page.error());
  Reply reply;
  reply.body["ok"] = true;
  reply.body["total"] = page->total;
  reply.body["totalExact"] = page->total_exact;
  JsonValue terms = JsonValue::array();
  for (const auto& entry : page->terms) terms.push_back(term_json(entry));
  reply.body["terms"] = std::move(terms);
  // A search that finds nothing says what the text may have meant, as a
  // missed lookup does, without counting it among the misses: a person
  // typing is not asking yet.
  if (page->total == 0 && q != query.end() && !common::is_blank(q->second)) {
    auto near = ctx.store.suggest(q->second);
    reply.body["suggestions"] = near ? JsonValue(*near) : JsonValue::array();
  }
  return reply;
}

Reply handle_misses(ServiceContext& ctx) {
  auto misses = ctx.store.misses(kMaxMisses);
  if (!misses) return store_failure(misses.error());
  Reply reply;
  reply.body["ok"] = true;
  JsonValue list = JsonValue::array();
  for (const auto& miss : *misses) {
    list.push_back(JsonValue{{"text", miss.text}, {"count", miss.count}, {"lastAt", utc_timestamp(miss.last_at)}});
  }
  reply.body["misses"] = std::move(list);
  return reply;
}

Reply handle_save(ServiceContext& ctx, const JsonValue& body) {
  TermDraft draft;
  auto term = body.find(std::string(protocol::kTermKey));
  if (term == body.end() || !term->is_string()) return bad_request("term 必须是字符串：要保存的词");
  auto checked = checked_term(term->get_ref<const std::string&>());
  if (!checked) return bad_request(checked.error().text());
  draft.term = std::move(checked).value();

  draft.lang = std::string(protocol::kDefaultLang);
  if (auto lang = body.find(std::string(protocol::kLangKey)); lang != body.end()) {
    if (!lang->is_string()) return bad_request("lang 必须是字符串");
    auto known = checked_lang(lang->get_ref<const std::string&>());
    if (!known) return bad_request(known.error().text());
    draft.lang = std::move(known).value();
  }

  draft.category_id = std::string(protocol::kTermCategory);
  if (auto category = body.find(std::string(protocol::kCategoryKey)); category != body.end()) {
    if (!category->is_string() || common::is_blank(category->get_ref<const std::string&>())) {
      return bad_request("categoryId 必须是非空字符串");
    }
    draft.category_id = category->get<std::string>();
  }

  if (auto fields = body.find(std::string(protocol::kFieldsKey)); fields != body.end()) {
    auto normalized = normalize_fields(*fields);
    if (!normalized) return bad_request(normalized.error().text());
    draft.fields = std::move(normalized).value();
  }

  if (auto aliases = body.find("aliases"); aliases != body.end()) {
    auto normalized = normalize_aliases(*aliases, draft.term);
    if (!normalized) return bad_request(normalized.error().text());
    draft.aliases = std::move(normalized).value();
  }

  auto saved = ctx.store.save(draft);
  if (!saved) return ctx.store.damaged() ? store_damaged_refusal() : store_failure(saved.error());
  Reply reply;
  reply.body["ok"] = true;
  put_entry(reply.body, *saved);
  return reply;
}

Reply handle_explain(ServiceContext& ctx, const JsonValue& body) {
  auto request = parse_explain_request(body);
  if (!request) return bad_request(request.error().text());
  return explain(ctx.store, ctx.model, *request);
}

Reply handle_import(ServiceContext& ctx, const QueryParameters& query, std::string_view body) {
  TermFileFormat format = TermFileFormat::kJsonLines;
  if (auto given = query.find("format"); given != query.end()) {
    auto named = term_file_format(given->second);
    if (!named) return bad_request("不认识的格式「" + given->second + "」，可选：jsonl、csv、tsv");
    format = *named;
  }
  if (ctx.store.damaged()) return store_damaged_refusal();
  auto writer = ctx.store.open_another();
  if (!writer) return store_failure(writer.error());
  auto imported = (*writer)->import_file(body, format);
  if (!imported && imported.error().kind == common::ErrorKind::kBadImport)
    return error_reply(400, "bad_import", imported.error().text() + "；什么都没有导入");
  if (!imported) return store_failure(imported.error());
  Reply reply;
  reply.body["ok"] = true;
  reply.body["imported"] = imported->added + imported->updated + imported->kept;
  reply.body["added"] = imported->added;
  reply.body["updated"] = imported->updated;
  reply.body["kept"] = imported->kept;
  return reply;
}

Reply handle_export(ServiceContext& ctx) {
  auto opened = ctx.store.open_export();
  if (!opened) return store_failure(opened.error());
  auto cursor = std::make_shared<TermExport>(std::move(opened).value());
  auto stream = std::make_shared<StreamedBody>();
  stream->content_type = "application/x-ndjson; charset=utf-8";
  stream->file_name = "ruvo-terms.jsonl";
  // Pieces of about 64 KiB: few calls, and little held per slow reader.
  stream->next = [cursor]() -> Result<std::string> {
    std::string piece;
    while (piece.size() < 64 * 1024) {
      auto record = cursor->next();
      if (!record) return record.error();
      if (!*record) break;
      piece += to_json_line(**record);
      piece += '\n';
    }
    return piece;
  };
  Reply reply;
  reply.stream = std::move(stream);
  return reply;
}

}  // namespace ruvo::desktop
