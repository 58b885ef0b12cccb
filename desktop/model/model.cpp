#include "model/model.hpp"

#include "common/utf8.hpp"
#include "model/model_answer.hpp"
#include "protocol/fields.hpp"

#include <chrono>

namespace ruvo::desktop {

namespace {

std::string seconds_text(std::chrono::milliseconds bound) {
  auto ms = bound.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000);
  return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100);
}

Reply failure(std::string_view reason, std::string_view message, int status = 502) {
  Reply reply = error_reply(status, "model", message);
  reply.body["reason"] = std::string(reason);
  return reply;
}

// The header a passage's explanation is shown under: the model's short
// subject when it gave one that fits a term, else the passage's beginning.
std::string passage_title(const ExplainRequest& request, const std::string& subject) {
  if (!subject.empty() && !has_line_break(subject) && within_term_length(subject)) return subject;
  std::string_view first_line = request.text;
  for (std::size_t i = 0; i < first_line.size(); ++i) {
    if (first_line[i] == '\n' || first_line[i] == '\r') {
      first_line = first_line.substr(0, i);
      break;
    }
  }
  std::string_view head = common::first_scalars(first_line, kMaxTermChars);
  std::string out(common::trim_unicode_space(head));
  if (head.size() < request.text.size()) out += "…";
  return out;
}

Reply status_failure(const ModelConfig& config, const Exchange& exchange) {
  std::string code = "（HTTP " + std::to_string(exchange.status) + "）";
  if (exchange.status == 401 || exchange.status == 403) {
    // The endpoint's own text about a refused key may quote part of it.
    if (config.api_key.empty()) {
      return failure("auth", "模型服务要求 API key" + code + "：请在 model.json 里填 apiKey，或设置环境变量 " +
                                 std::string(kModelApiKeyVariable));
    }
    return failure("auth", "模型服务拒绝了 API key" + code + "：请检查 model.json 的 apiKey 或环境变量 " +
                               std::string(kModelApiKeyVariable));
  }
  std::string said = endpoint_error_text(exchange.body, config.api_key);
  return failure("status", "模型服务返回了错误" + code + (said.empty() ? "" : "：" + said));
}

Reply answered(const ModelConfig& config, const ExplainRequest& request, const Exchange& exchange) {
  if (exchange.status < 200 || exchange.status > 299) return status_failure(config, exchange);
  auto completion = read_completion(exchange.body, config.api_key);
  if (!completion) return failure("unusable", "模型的回答不能用：" + completion.error().text());
  const auto& done = *completion;
  auto explanation = read_explanation(done.content);
  if (!explanation) return failure("unusable", "模型的回答不能用：" + explanation.error().text());
  const auto& found = *explanation;

  Reply reply;
  reply.body["ok"] = true;
  reply.body["source"] = "model";
  reply.body["term"] = explains_as_term(request) ? request.text : passage_title(request, found.term);
  reply.body["lang"] = request.lang;
  for (const auto& field : protocol::FIELD_LABELS) {
    std::string key(field.key);
    if (found.fields.contains(key)) reply.body[key] = found.fields[key];
  }
  reply.body["fields"] = found.fields;
  reply.body["tokens"] = done.tokens;
  reply.body["model"] = common::is_blank(done.model) ? config.model : done.model;
  return reply;
}

}  // namespace

Reply model_reply(const ModelConfig& config, const ExplainRequest& request, const Exchange& exchange) {
  switch (exchange.outcome) {
    case ExchangeOutcome::kAnswered:
      return answered(config, request, exchange);
    case ExchangeOutcome::kTimedOut:
      return failure("timeout",
                     "模型服务超时：" + seconds_text(config.bounds.answer) + " 秒内没有答完（" + config.base_url + "）",
                     504);
    case ExchangeOutcome::kTooLarge:
      return failure("unusable", "模型的回答不能用：回答超过 " +
                                     std::to_string(kMaxModelAnswerBytes / (1024 * 1024)) + " MiB");
    case ExchangeOutcome::kUnreachable:
      break;
  }
  return failure("unreachable", "连不上模型服务（" + config.base_url + "）：" + exchange.detail);
}

ExplainModel make_chat_model(ModelConfig config, Log& log) {
  return [config = std::move(config), &log](const ExplainRequest& request) {
    auto started = std::chrono::steady_clock::now();
    std::string body = common::to_compact(chat_request(config, request));
    Exchange exchange = post_json(config, kChatCompletionsPath, body);
    Reply reply = model_reply(config, request, exchange);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    std::string line = "model call (" + config.model + "): ";
    if (reply.body["ok"] == true) {
      const auto& tokens = reply.body["tokens"];
      line += "answered in " + std::to_string(ms.count()) + " ms, " +
              (tokens.is_number() ? std::to_string(tokens.get<std::int64_t>()) : std::string("unreported")) +
              " tokens";
    } else {
      line += "failed in " + std::to_string(ms.count()) + " ms: " + reply.body["message"].get<std::string>();
    }
    log.write(line);
    return reply;
  };
}

}  // namespace ruvo::desktop
