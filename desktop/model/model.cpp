// Reading a model endpoint's reply into an answer, and asking it.
#include "model/model.hpp"

#include "common/utf8.hpp"

#include <chrono>

namespace ruvo::desktop::model {

namespace {

using common::ErrorKind;

std::string seconds_text(std::chrono::milliseconds bound) {
  auto ms = bound.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000);
  return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100);
}

common::Error failure(std::string_view reason, std::string message, ErrorKind kind = ErrorKind::kModel) {
  return common::failure(kind, std::move(message), std::string(reason));
}

common::Error status_failure(const ModelConfig& config, const EndpointReply& reply) {
  std::string code = "（HTTP " + std::to_string(reply.status) + "）";
  if (reply.status == 401 || reply.status == 403) {
    // The endpoint's own text about a refused key may quote part of it.
    if (config.api_key.empty()) {
      return failure("auth", "模型服务要求 API key" + code + "：请在 model.json 里填 apiKey，或设置环境变量 " +
                                 std::string(kModelApiKeyVariable));
    }
    return failure("auth", "模型服务拒绝了 API key" + code + "：请检查 model.json 的 apiKey 或环境变量 " +
                               std::string(kModelApiKeyVariable));
  }
  std::string said = endpoint_error_text(reply.body, config.api_key);
  return failure("status", "模型服务返回了错误" + code + (said.empty() ? "" : "：" + said));
}

common::Result<ModelAnswer> answered(const ModelConfig& config, const EndpointReply& reply) {
  if (reply.status < 200 || reply.status > 299) return status_failure(config, reply);
  auto completion = read_completion(reply.body, config.api_key);
  if (!completion) return failure("unusable", "模型的回答不能用：" + completion.error().text());
  auto explanation = read_explanation(completion->content);
  if (!explanation) return failure("unusable", "模型的回答不能用：" + explanation.error().text());
  return ModelAnswer{explanation->term, explanation->fields, completion->tokens,
                     common::is_blank(completion->model) ? config.model : completion->model};
}

}  // namespace

common::Result<ModelAnswer> read_answer(const ModelConfig& config, const EndpointReply& reply) {
  switch (reply.outcome) {
    case EndpointOutcome::kAnswered:
      return answered(config, reply);
    case EndpointOutcome::kTimedOut:
      return failure("timeout",
                     "模型服务超时：" + seconds_text(config.bounds.answer) + " 秒内没有答完（" + config.base_url + "）",
                     ErrorKind::kModelTimeout);
    case EndpointOutcome::kTooLarge:
      return failure("unusable", "模型的回答不能用：回答超过 " +
                                     std::to_string(kMaxModelAnswerBytes / (1024 * 1024)) + " MiB");
    case EndpointOutcome::kUnreachable:
      break;
  }
  return failure("unreachable", "连不上模型服务（" + config.base_url + "）：" + reply.detail);
}

common::Result<ModelAnswer> ask(const ModelConfig& config, const ModelRequest& request, const LogSink& log) {
  auto started = std::chrono::steady_clock::now();
  std::string body = common::to_compact(chat_request(config, request));
  auto answer = read_answer(config, post_json(config, kChatCompletionsPath, body));
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
  std::string line = "model call (" + config.model + "): ";
  if (answer) {
    const auto& tokens = answer->tokens;
    line += "answered in " + std::to_string(ms.count()) + " ms, " +
            (tokens.is_number() ? std::to_string(tokens.get<std::int64_t>()) : std::string("unreported")) + " tokens";
  } else {
    line += "failed in " + std::to_string(ms.count()) + " ms: " + answer.error().text();
  }
  if (log) log(line);
  return answer;
}

}  // namespace ruvo::desktop::model
