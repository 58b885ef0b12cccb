#include "explain.hpp"

#include "common/utf8.hpp"
#include "protocol/fields.hpp"

namespace ruvo::desktop {

namespace {

using common::failure;

template <std::size_t N>
bool is_one_of(std::string_view value, const std::string_view (&accepted)[N]) {
  for (auto candidate : accepted) {
    if (value == candidate) return true;
  }
  return false;
}

template <std::size_t N>
std::string accepted_list(const std::string_view (&accepted)[N]) {
  std::string out;
  for (auto candidate : accepted) {
    if (!out.empty()) out += "、";
    out += candidate;
  }
  return out;
}

// Reads an optional string member into `out`; false when it is present but
// not a string.
bool read_string(const JsonValue& body, std::string_view key, std::string& out) {
  auto it = body.find(std::string(key));
  if (it == body.end()) return true;
  if (!it->is_string()) return false;
  out = it->get<std::string>();
  return true;
}

// The text as a message quotes it: cut after kMaxTermChars characters.
std::string corner_quoted(std::string_view text) {
  std::string_view head = common::first_scalars(text, kMaxTermChars);
  std::string out = "「" + std::string(head);
  if (head.size() < text.size()) out += "…";
  return out + "」";
}

Reply miss(const ExplainRequest& request, bool as_term) {
  std::string what;
  if (as_term) {
    what = "词库里没有" + corner_quoted(request.text) + (request.lang == "en" ? "的英文解释" : "");
  } else {
    what = "本地词库只能解释单个词条，这段文字要靠模型解释";
  }
  Reply reply;
  if (!request.allow_cloud) {
    reply = error_reply(200, "miss", what + "，而这次不允许调用模型");
    reply.body["reason"] = "cloud_not_allowed";
  } else {
    reply = error_reply(200, "miss", what + "，可还没有配置模型");
    reply.body["reason"] = "no_model";
  }
  return reply;
}

}  // namespace

common::Result<ExplainRequest> parse_explain_request(const JsonValue& body) {
  ExplainRequest request;
  auto text = body.find(std::string(protocol::kTextKey));
  if (text == body.end() || !text->is_string()) return failure("text 必须是字符串：要解释的文字");
  request.text = std::string(common::trim_unicode_space(text->get_ref<const std::string&>()));
  if (request.text.empty()) return failure("要解释的文字是空的");

  if (!read_string(body, protocol::kModeKey, request.mode)) return failure("mode 必须是字符串");
  if (!is_one_of(request.mode, kExplainModes)) {
    return failure("不认识的 mode「" + request.mode + "」，可选：" + accepted_list(kExplainModes));
  }
  if (!read_string(body, protocol::kLangKey, request.lang)) return failure("lang 必须是字符串");
  if (!is_one_of(request.lang, kExplainLangs)) {
    return failure("不认识的 lang「" + request.lang + "」，可选：" + accepted_list(kExplainLangs));
  }
  auto allow = body.find(std::string(protocol::kAllowCloudKey));
  if (allow != body.end()) {
    if (!allow->is_boolean()) return failure("allowCloud 必须是 true 或 false");
    request.allow_cloud = allow->get<bool>();
  }
  if (!read_string(body, protocol::kContextKey, request.context)) return failure("context 必须是字符串");
  return request;
}

bool reads_as_term(std::string_view text) {
  static constexpr std::string_view kSentenceMarks[] = {"。", "？", "！", "，", "；", "?"};
  for (auto mark : kSentenceMarks) {
    if (text.find(mark) != std::string_view::npos) return false;
  }
  return !has_line_break(text) && within_term_length(text);
}

bool explains_as_term(const ExplainRequest& request) {
  return request.mode == "term" || (request.mode == "auto" && reads_as_term(request.text));
}

bool remembers_answer(const ExplainRequest& request) {
  return explains_as_term(request) && !has_line_break(request.text) && within_term_length(request.text);
}

namespace {

// Keeps a model's answer about a term, so the next request for it is a
// local hit that costs nothing.
void remember(TermStore& store, const ExplainRequest& request, Reply& reply) {
  TermDraft draft{request.text, request.lang, std::string(protocol::kTermCategory), JsonValue::object(),
                  std::string(kSourceModel)};
  if (auto fields = reply.body.find("fields"); fields != reply.body.end() && fields->is_object()) {
    for (const auto& [key, value] : fields->items()) {
      if (value.is_string() && !common::is_blank(value.get_ref<const std::string&>())) draft.fields[key] = value;
    }
  }
  reply.body["remembered"] = false;
  // An entry without a single field would make every later request a hit
  // that explains nothing.
  if (draft.fields.empty()) return;
  auto saved = store.save_if_absent(draft);
  if (!saved) {
    reply.body["warning"] = "没能把这次的解释存进词库：" + saved.error().text();
  } else if (const auto& entry = *saved) {
    reply.body["remembered"] = true;
    reply.body["id"] = entry->id;
  }
}

}  // namespace

Reply explain(TermStore& store, const ExplainModel& model, const ExplainRequest& request) {
  // In mode "auto" any single line that could be a stored term is looked
  // up: a hit costs nothing even for "RAG 是什么？"-like text. Whether the
  // text reads as a term only decides how a miss is worded.
  bool auto_candidate = request.mode == "auto" && !has_line_break(request.text) && within_term_length(request.text);
  if (request.mode == "term" || auto_candidate) {
    // One in the language asked for first; else one in another language
    // rather than none (the reply says its own "lang").
    auto found = store.find_any(request.text, request.lang);
    if (!found) return store_failure(found.error());
    if (const auto& entry = *found) {
      Reply reply;
      reply.body["ok"] = true;
      reply.body["source"] = "local";
      reply.body["tokens"] = 0;
      put_entry(reply.body, *entry);
      return reply;
    }
  }
  if (request.allow_cloud && model) {
    Reply reply = model(request);
    auto ok = reply.body.is_object() ? reply.body.find("ok") : reply.body.end();
    bool answered = ok != reply.body.end() && *ok == true;
    if (answered && remembers_answer(request)) remember(store, request, reply);
    return reply;
  }
  const bool as_term = explains_as_term(request);
  Reply reply = miss(request, as_term);
  if (as_term) put_miss(store, reply.body, request.text);
  return reply;
}

}  // namespace ruvo::desktop
