#include "answers/explanations.hpp"

#include "answers/entry_json.hpp"
#include "answers/hits.hpp"
#include "answers/lookups.hpp"
#include "answers/passages.hpp"
#include "answers/store_errors.hpp"
#include "common/utf8.hpp"
#include "store/entry_rules.hpp"
#include "store/terms_in_text.hpp"

namespace ruvo::desktop::answers {

namespace {

using store::has_line_break;
using store::within_term_length;

// True when the text has at most kTermLikeChars characters.
bool within_term_like_length(std::string_view text) {
  return common::first_scalars(text, kTermLikeChars).size() == text.size();
}

common::Error bad_input(std::string message) {
  return common::failure(common::ErrorKind::kBadInput, std::move(message));
}

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

// The text as a message quotes it: cut after kTermLikeChars characters.
std::string corner_quoted(std::string_view text) {
  std::string_view head = common::first_scalars(text, kTermLikeChars);
  std::string out = "「" + std::string(head);
  if (head.size() < text.size()) out += "…";
  return out + "」";
}

// What a miss answers: no entry, and no model that may be asked. Without a
// model, it says where one is set up.
JsonValue miss(const ExplainRequest& request, bool as_term, const std::string& model_file) {
  std::string what;
  if (as_term) {
    what = "词库里没有" + corner_quoted(request.text) + (request.lang == "en" ? "的英文解释" : "");
  } else {
    what = "这段文字里没有词库收录的词条，要靠模型解释";
  }
  JsonValue reply = JsonValue::object();
  reply["ok"] = false;
  reply["kind"] = "miss";
  if (!request.allow_cloud) {
    reply["message"] = what + "，而这次不允许调用模型";
    reply["reason"] = "cloud_not_allowed";
  } else {
    reply["message"] = what + "，可还没有配置模型（" +
                       (model_file.empty() ? std::string() : "在 " + model_file + " 里配置，或") +
                       "运行 ruvo-gui.exe 在状态页设置）";
    reply["reason"] = "no_model";
  }
  return reply;
}

}  // namespace

common::Result<ExplainRequest> parse_explain_request(const JsonValue& body) {
  ExplainRequest request;
  auto text = body.find(std::string(protocol::kTextKey));
  if (text == body.end() || !text->is_string()) return bad_input("text 必须是字符串：要解释的文字");
  request.text = std::string(common::trim_unicode_space(text->get_ref<const std::string&>()));
  if (request.text.empty()) return bad_input("要解释的文字是空的");

  if (!read_string(body, protocol::kModeKey, request.mode)) return bad_input("mode 必须是字符串");
  if (!is_one_of(request.mode, kExplainModes)) {
    return bad_input("不认识的 mode「" + request.mode + "」，可选：" + accepted_list(kExplainModes));
  }
  if (!read_string(body, protocol::kLangKey, request.lang)) return bad_input("lang 必须是字符串");
  if (!is_one_of(request.lang, store::kTermLangs)) {
    return bad_input("不认识的 lang「" + request.lang + "」，可选：" + accepted_list(store::kTermLangs));
  }
  auto allow = body.find(std::string(protocol::kAllowCloudKey));
  if (allow != body.end()) {
    if (!allow->is_boolean()) return bad_input("allowCloud 必须是 true 或 false");
    request.allow_cloud = allow->get<bool>();
  }
  if (!read_string(body, protocol::kContextKey, request.context)) return bad_input("context 必须是字符串");
  return request;
}

bool reads_as_term(std::string_view text) {
  static constexpr std::string_view kSentenceMarks[] = {"。", "？", "！", "，", "；", "?"};
  for (auto mark : kSentenceMarks) {
    if (text.find(mark) != std::string_view::npos) return false;
  }
  return !has_line_break(text) && within_term_like_length(text);
}

bool explains_as_term(const ExplainRequest& request) {
  return request.mode == "term" || (request.mode == "auto" && reads_as_term(request.text));
}

bool remembers_answer(const ExplainRequest& request) {
  return explains_as_term(request) && !has_line_break(request.text) && within_term_length(request.text);
}

namespace {

// The header a passage's explanation is shown under: the model's short
// subject when it gave one that fits a term, else the passage's beginning.
std::string passage_title(const ExplainRequest& request, const std::string& subject) {
  if (!subject.empty() && !has_line_break(subject) && within_term_like_length(subject)) return subject;
  std::string_view first_line = request.text;
  for (std::size_t i = 0; i < first_line.size(); ++i) {
    if (first_line[i] == '\n' || first_line[i] == '\r') {
      first_line = first_line.substr(0, i);
      break;
    }
  }
  std::string_view head = common::first_scalars(first_line, kTermLikeChars);
  std::string out(common::trim_unicode_space(head));
  if (head.size() < request.text.size()) out += "…";
  return out;
}

// The answer a model's explanation makes.
JsonValue model_reply(const ExplainRequest& request, const model::ModelAnswer& answer) {
  JsonValue reply = JsonValue::object();
  reply["ok"] = true;
  reply["source"] = "model";
  reply["term"] = explains_as_term(request) ? request.text : passage_title(request, answer.subject);
  reply["lang"] = request.lang;
  for (const auto& field : protocol::FIELD_LABELS) {
    std::string key(field.key);
    if (answer.fields.contains(key)) reply[key] = answer.fields[key];
  }
  reply["fields"] = answer.fields;
  reply["tokens"] = answer.tokens;
  reply["model"] = answer.model;
  return reply;
}

// A stored entry as the answer: free, from the store. One that a model
// wrote from an entry in another language says which ("basedOn").
// A hit: the entry, with every other entry of that name from every enabled
// source beside it.
JsonValue local_reply(store::TermStore& store, const store::TermEntry& entry, std::string_view text,
                      std::string_view lang) {
  JsonValue reply = JsonValue::object();
  reply["ok"] = true;
  reply["source"] = "local";
  reply["tokens"] = 0;
  put_hit(store, reply, entry, text, lang);
  if (auto based_on = based_on_of(entry)) reply[std::string(kBasedOnField)] = *based_on;
  return reply;
}

// Keeps a model's answer about a term, so the next request for it is a
// local hit that costs nothing. `extra` fields are stored with the answer's.
void remember(Context& ctx, const std::string& term, const std::string& lang, JsonValue& reply,
              const JsonValue& extra = JsonValue::object()) {
  store::TermDraft draft{term, lang, std::string(protocol::kTermCategory), JsonValue::object(),
                         std::string(store::kSourceModel)};
  if (auto fields = reply.find("fields"); fields != reply.end() && fields->is_object()) {
    for (const auto& [key, value] : fields->items()) {
      if (value.is_string() && !common::is_blank(value.get_ref<const std::string&>())) draft.fields[key] = value;
    }
  }
  reply["remembered"] = false;
  // An entry without a single field would make every later request a hit
  // that explains nothing.
  if (draft.fields.empty()) return;
  for (const auto& [key, value] : extra.items()) draft.fields[key] = value;
  auto saved = ctx.store.save_if_absent(draft);
  if (!saved) {
    reply["warning"] = "没能把这次的解释存进词库：" + saved.error().text();
  } else if (const auto& entry = *saved) {
    ctx.names.note_saved(*entry);
    reply["remembered"] = true;
    reply["id"] = entry->id;
  }
}

// A term whose best entry is written in another language, with a model
// that may be asked: the model explains it in the language asked, keeping
// to that entry, and the answer is remembered with what it was based on.
// When the model fails, the entry answers as it is, with a "warning".
JsonValue across_languages(Context& ctx, const ExplainModel& ask, const ExplainRequest& request,
                           const store::TermEntry& entry) {
  model::ModelRequest asked = model_request(request);
  asked.as_term = true;
  asked.entries = {grounding_entry(entry)};
  auto answer = ask(asked);
  if (!answer) {
    JsonValue reply = local_reply(ctx.store, entry, request.text, request.lang);
    reply["warning"] = "模型没能换成所要的语言解释（" + answer.error().text() + "），先给出词库里" +
                       (entry.lang == "en" ? "英文" : "中文") + "的词条";
    return reply;
  }
  JsonValue reply = model_reply(request, *answer);
  const JsonValue based_on = based_on_json(entry);
  reply[std::string(kBasedOnField)] = based_on;
  // Under the entry's own spelling when that is what was asked; under the
  // text asked when it named the entry otherwise (an alias).
  const std::string& term = store::term_key(entry.term) == store::term_key(request.text) ? entry.term : request.text;
  remember(ctx, term, request.lang, reply, JsonValue{{std::string(kBasedOnField), common::to_compact(based_on)}});
  return reply;
}

}  // namespace

model::ModelRequest model_request(const ExplainRequest& request) {
  return model::ModelRequest{request.text, request.lang, explains_as_term(request), request.context};
}

Result<JsonValue> explain(Context& ctx, const ExplainModel& ask, const ExplainRequest& request) {
  const bool may_ask = request.allow_cloud && static_cast<bool>(ask);
  // In mode "auto" any single line that could be a stored term is looked
  // up: a hit costs nothing even for "RAG 是什么？"-like text. Whether the
  // text reads as a term only decides how a miss is worded.
  bool auto_candidate = request.mode == "auto" && !has_line_break(request.text) && within_term_length(request.text);
  if (request.mode == "term" || auto_candidate) {
    // One in the language asked for first; else one in another language:
    // told in the language asked by a model that may be asked, else given
    // as it is (the reply says its own "lang").
    auto found = ctx.store.find_any(request.text, request.lang);
    if (!found) return store_failure(found.error());
    if (const auto& entry = *found) {
      if (entry->lang != request.lang && may_ask) return across_languages(ctx, ask, request, *entry);
      return local_reply(ctx.store, *entry, request.text, request.lang);
    }
  }
  const bool as_term = explains_as_term(request);
  // Anything but a term asked for as one is read for the stored terms in it.
  std::vector<store::TermInText> terms;
  if (request.mode != "term") {
    auto read = store::terms_in_text(ctx.store, ctx.names, request.text, request.lang);
    if (!read) return store_failure(read.error());
    terms = std::move(read).value();
  }
  if (may_ask) {
    model::ModelRequest asked = model_request(request);
    asked.entries = grounding(terms);
    auto answer = ask(asked);
    if (!answer) return answer.error();
    JsonValue reply = model_reply(request, *answer);
    if (!terms.empty()) reply["terms"] = terms_json(terms);
    if (remembers_answer(request)) remember(ctx, request.text, request.lang, reply);
    return reply;
  }
  if (!terms.empty()) {
    // The text itself was not found: it still counts among the misses when
    // it could be a term.
    if (as_term) {
      [[maybe_unused]] const auto counted = ctx.store.record_miss(request.text);
    }
    return answer_from_terms(terms, passage_title(request, ""), request.lang);
  }
  JsonValue reply = miss(request, as_term, ctx.models.file());
  if (as_term) answer_miss(ctx.store, reply, request.text);
  return reply;
}

Result<JsonValue> explain(Context& ctx, const JsonValue& body) {
  auto request = parse_explain_request(body);
  if (!request) return request.error();
  auto in_use = ctx.models.current();
  return explain(ctx, in_use->ask, *request);
}

std::optional<JsonValue> based_on_of(const store::TermEntry& entry) {
  auto it = entry.fields.find(std::string(kBasedOnField));
  if (it == entry.fields.end() || !it->is_string()) return std::nullopt;
  auto parsed = common::parse_json(it->get_ref<const std::string&>());
  if (!parsed || !parsed->is_object()) return std::nullopt;
  return std::move(parsed).value();
}

JsonValue based_on_json(const store::TermEntry& entry) {
  return JsonValue{{"id", entry.id}, {"term", entry.term}, {"lang", entry.lang}, {"dictionary", nullptr}};
}

}  // namespace ruvo::desktop::answers
