// One bounded HTTP request to the model endpoint and its reply, over http or
// https.
// This is the only file that uses the HTTP client library (libcurl).
#pragma once

#include "common/result.hpp"
#include "model/model_config.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace ruvo::desktop::model {

// An answer larger than this is not read to its end.
inline constexpr std::size_t kMaxModelAnswerBytes = 8 * 1024 * 1024;

enum class EndpointOutcome {
  kAnswered,     // a status and a body arrived within the bounds
  kUnreachable,  // no connection, a failed TLS handshake or certificate, or a connection cut short
  kTimedOut,     // no whole answer within bounds.answer
  kTooLarge,     // the body passed kMaxModelAnswerBytes
};

struct EndpointReply {
  EndpointOutcome outcome = EndpointOutcome::kUnreachable;
  int status = 0;      // with kAnswered
  std::string body;    // with kAnswered
  std::string detail;  // with kUnreachable: the cause in Chinese, without the key
};

// Sets the HTTP client library up for the whole process, once: the service
// calls it before its threads start, and post_json calls it too, so a
// caller that forgets is still served. The library's reason when it cannot
// be set up (post_json then fails every call with a clear detail).
common::Result<void> init_model_http();

// POSTs the JSON body to config.base_url + `path` over HTTP/1.1 with
// "Content-Type: application/json", "Accept: application/json",
// "User-Agent: ruvo-gui/<version>" and, when a key is set,
// "Authorization: Bearer <key>". Connecting (name lookup, TCP, a proxy and
// TLS) must finish within bounds.connect, and the whole answer must be in
// within bounds.answer from the start. Proxies come from the environment by
// the library's own rules (http_proxy, https_proxy, all_proxy, no_proxy and
// their upper-case forms except HTTP_PROXY). https verifies the server's
// certificate (and an https proxy's) against the system's authorities, or
// those SSL_CERT_FILE and SSL_CERT_DIR name. Redirects are not followed. One
// connection per call, so calls on several threads at once are independent.
// Never throws.
EndpointReply post_json(const ModelConfig& config, std::string_view path, const std::string& body);

}  // namespace ruvo::desktop::model
