#include "model/model_answer.hpp"

#include "common/utf8.hpp"
#include "protocol/fields.hpp"

#include <cstdint>

namespace ruvo::desktop::model {

namespace {

using common::failure;

constexpr std::size_t npos = std::string_view::npos;

// A text's content may hold many braces; only so many starting points are
// tried, which keeps a hostile answer from costing quadratic time.
constexpr int kMaxObjectStarts = 64;
constexpr std::size_t kMaxErrorChars = 200;

std::string_view language_name(std::string_view lang) {
  return lang == "en" ? "English" : "Simplified Chinese";
}

std::string system_prompt(const ModelRequest& request) {
  std::string out;
  if (request.as_term) {
    out = "You explain a term to a reader who meets it for the first time. ";
  } else {
    out = "You explain a passage to a reader who finds it hard to follow. ";
  }
  out +=
      "Answer with one JSON object and nothing else: no code fence, no text before or after it. "
      "The object has exactly four string members: ";
  if (request.as_term) {
    out +=
        "\"term\": the term as given; "
        "\"definition\": an accurate definition in one or two sentences; "
        "\"plain\": a plain-language explanation for a newcomer, without jargon; "
        "\"example\": one concrete example of the term in use. ";
  } else {
    out +=
        "\"term\": the passage's subject in a few words; "
        "\"definition\": its main point in one or two sentences; "
        "\"plain\": a plain-language explanation of the whole passage for a newcomer, without jargon; "
        "\"example\": one concrete example that makes it easier to understand. ";
  }
  out += "Write every value in " + std::string(language_name(request.lang)) + ".";
  if (!request.entries.empty()) {
    out +=
        " The reader keeps a dictionary of their own, and its entries for terms in the text follow the text. "
        "Take each entry as the meaning of its term: keep to it, never contradict it, and add nothing it would "
        "not support. An entry written in another language is still the meaning: explain it in " +
        std::string(language_name(request.lang)) + ".";
  }
  return out;
}

std::string user_prompt(const ModelRequest& request) {
  std::string out = request.as_term ? "Term: " + request.text : "Passage:\n" + request.text;
  if (!common::is_blank(request.context)) out += "\n\nContext:\n" + request.context;
  if (!request.entries.empty()) {
    out += "\n\nDictionary entries:";
    for (const auto& entry : request.entries) out += "\n- " + entry.term + " (" + entry.lang + "): " + entry.text;
  }
  return out;
}

// The text without reasoning models' <think>…</think> blocks; an unclosed
// block runs to the end.
std::string without_thinking(std::string_view content) {
  std::string out(content);
  for (;;) {
    auto open = out.find("<think>");
    if (open == npos) return out;
    auto close = out.find("</think>", open);
    if (close == npos) {
      out.erase(open);
      return out;
    }
    out.erase(open, close + 8 - open);
  }
}

// One past the quotation mark that ends the string starting at `open`.
std::size_t string_end(std::string_view text, std::size_t open) {
  bool escaped = false;
  for (std::size_t i = open + 1; i < text.size(); ++i) {
    if (escaped) {
      escaped = false;
    } else if (text[i] == '\\') {
      escaped = true;
    } else if (text[i] == '"') {
      return i + 1;
    }
  }
  return npos;
}

// One past the brace that closes the object starting at `open`.
std::size_t object_end(std::string_view text, std::size_t open) {
  std::size_t depth = 0;
  for (std::size_t i = open; i < text.size(); ++i) {
    char c = text[i];
    if (c == '"') {
      i = string_end(text, i);
      if (i == npos) return npos;
      --i;
    } else if (c == '{') {
      ++depth;
    } else if (c == '}' && --depth == 0) {
      return i + 1;
    }
  }
  return npos;
}

std::size_t skip_space(std::string_view text, std::size_t i) {
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
  return i;
}

std::optional<std::string> json_string_at(std::string_view text, std::size_t open, std::size_t& end) {
  end = string_end(text, open);
  if (end == npos) return std::nullopt;
  auto parsed = common::parse_json(text.substr(open, end - open));
  if (!parsed || !parsed->is_string()) return std::nullopt;
  return parsed->get<std::string>();
}

// The complete "key": "text" members at the start of an object that is cut
// off, up to the first one that is not such a member.
JsonValue leading_string_members(std::string_view text, std::size_t open) {
  JsonValue out = JsonValue::object();
  std::size_t i = open + 1;
  for (;;) {
    i = skip_space(text, i);
    if (i >= text.size() || text[i] != '"') return out;
    std::size_t end = 0;
    auto key = json_string_at(text, i, end);
    if (!key) return out;
    i = skip_space(text, end);
    if (i >= text.size() || text[i] != ':') return out;
    i = skip_space(text, i + 1);
    if (i >= text.size() || text[i] != '"') return out;
    auto value = json_string_at(text, i, end);
    if (!value) return out;
    out[*key] = *value;
    i = skip_space(text, end);
    if (i >= text.size() || text[i] != ',') return out;
    ++i;
  }
}

// The trimmed text of the member named `key` (in any ASCII case) or
// `label`, or "".
std::string member_text(const JsonValue& object, std::string_view key, std::string_view label) {
  for (const auto& [name, value] : object.items()) {
    std::string_view trimmed_name = common::trim_unicode_space(name);
    if (common::ascii_lower(trimmed_name) != key && trimmed_name != label) continue;
    if (!value.is_string()) continue;
    std::string_view text = common::trim_unicode_space(value.get_ref<const std::string&>());
    if (!text.empty()) return std::string(text);
  }
  return {};
}

Explanation explanation_of(const JsonValue& object) {
  Explanation out;
  out.term = member_text(object, "term", "词条");
  for (const auto& field : protocol::FIELD_LABELS) {
    std::string text = member_text(object, field.key, field.label);
    if (!text.empty()) out.fields[std::string(field.key)] = text;
  }
  return out;
}

bool explains_something(const Explanation& e) {
  return e.fields.contains("definition") || e.fields.contains("plain");
}

bool names_a_field(const Explanation& e) { return !e.term.empty() || !e.fields.empty(); }

}  // namespace

JsonValue chat_request(const ModelConfig& config, const ModelRequest& request) {
  JsonValue body = JsonValue::object();
  body["model"] = config.model;
  body["messages"] = JsonValue::array({
      JsonValue{{"role", "system"}, {"content", system_prompt(request)}},
      JsonValue{{"role", "user"}, {"content", user_prompt(request)}},
  });
  body["temperature"] = kModelTemperature;
  body["stream"] = false;
  if (config.json_mode) body["response_format"] = JsonValue{{"type", "json_object"}};
  return body;
}

common::Result<Completion> read_completion(std::string_view body, std::string_view secret) {
  auto parsed = common::parse_json(body);
  if (!parsed || !parsed->is_object()) return failure("模型服务的回复不是 JSON 对象");
  const JsonValue& doc = *parsed;
  auto choices = doc.find("choices");
  if (choices == doc.end() || !choices->is_array() || choices->empty() || !(*choices)[0].is_object()) {
    std::string error = endpoint_error_text(body, secret);
    if (!error.empty()) return failure("模型服务报错：" + error);
    return failure("回复里没有 choices");
  }
  Completion out;
  const JsonValue& choice = (*choices)[0];
  if (auto message = choice.find("message"); message != choice.end() && message->is_object()) {
    if (auto content = message->find("content"); content != message->end()) {
      if (content->is_string()) {
        out.content = content->get<std::string>();
      } else if (content->is_array()) {
        for (const auto& part : *content) {
          if (part.is_object() && part.contains("text") && part["text"].is_string()) {
            out.content += part["text"].get<std::string>();
          }
        }
      }
    }
  }
  if (auto model = doc.find("model"); model != doc.end() && model->is_string()) out.model = model->get<std::string>();
  auto count = [](const JsonValue& usage, const char* key) -> std::optional<std::int64_t> {
    auto it = usage.find(key);
    if (it == usage.end() || !it->is_number_integer() || it->get<std::int64_t>() < 0) return std::nullopt;
    return it->get<std::int64_t>();
  };
  if (auto usage = doc.find("usage"); usage != doc.end() && usage->is_object()) {
    auto total = count(*usage, "total_tokens");
    auto prompt = count(*usage, "prompt_tokens");
    auto completion = count(*usage, "completion_tokens");
    if (total) {
      out.tokens = *total;
    } else if (prompt && completion) {
      out.tokens = *prompt + *completion;
    }
  }
  return out;
}

common::Result<Explanation> read_explanation(std::string_view content) {
  std::string text = without_thinking(content);
  if (common::is_blank(text)) return failure("回答是空的");

  std::optional<Explanation> found;
  std::size_t unfinished = npos;  // the first object that never closes
  int starts = 0;
  for (std::size_t open = text.find('{'); open != npos && starts < kMaxObjectStarts;
       open = text.find('{', open + 1), ++starts) {
    std::size_t end = object_end(text, open);
    if (end == npos) {
      if (unfinished == npos) unfinished = open;
      continue;
    }
    auto parsed = common::parse_json(std::string_view(text).substr(open, end - open));
    if (!parsed || !parsed->is_object()) continue;
    Explanation candidate = explanation_of(*parsed);
    if (!names_a_field(candidate)) continue;
    found = std::move(candidate);
    break;
  }
  if (!found && unfinished != npos) {
    Explanation salvaged = explanation_of(leading_string_members(text, unfinished));
    if (names_a_field(salvaged)) found = std::move(salvaged);
  }
  if (!found) return failure("回答里找不到要求的 JSON 对象");
  if (!explains_something(*found)) return failure("回答里既没有定义，也没有通俗解释");
  return std::move(*found);
}

std::string mask_secret(std::string text, std::string_view secret) {
  if (secret.empty()) return text;
  constexpr std::string_view kMask = "***";
  for (auto at = text.find(secret); at != std::string::npos; at = text.find(secret, at + kMask.size())) {
    text.replace(at, secret.size(), kMask);
  }
  return text;
}

std::string endpoint_error_text(std::string_view body, std::string_view secret) {
  auto parsed = common::parse_json(body);
  if (!parsed || !parsed->is_object()) return {};
  const JsonValue& doc = *parsed;
  std::string text;
  if (auto error = doc.find("error"); error != doc.end()) {
    if (error->is_string()) {
      text = error->get<std::string>();
    } else if (error->is_object() && error->contains("message") && (*error)["message"].is_string()) {
      text = (*error)["message"].get<std::string>();
    }
  } else if (auto message = doc.find("message"); message != doc.end() && message->is_string()) {
    text = message->get<std::string>();
  }
  text = mask_secret(std::move(text), secret);
  std::string one_line;
  for (char c : text) one_line.push_back(c == '\n' || c == '\r' || c == '\t' ? ' ' : c);
  std::string_view trimmed = common::trim_unicode_space(one_line);
  std::string_view head = common::first_scalars(trimmed, kMaxErrorChars);
  std::string out(head);
  if (head.size() < trimmed.size()) out += "…";
  return out;
}

}  // namespace ruvo::desktop::model
