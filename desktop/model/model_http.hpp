// One bounded HTTP exchange with the model endpoint, over http or https.
// This is the only file that uses the HTTP library as a client.
#pragma once

#include "model/model_config.hpp"

#include <cstddef>
#include <string>
#include <string_view>

namespace ruvo::desktop {

// An answer larger than this is not read to its end.
inline constexpr std::size_t kMaxModelAnswerBytes = 8 * 1024 * 1024;

enum class ExchangeOutcome {
  kAnswered,     // a status and a body arrived within the bounds
  kUnreachable,  // no connection, a failed TLS handshake or certificate, or a connection cut short
  kTimedOut,     // no whole answer within bounds.answer
  kTooLarge,     // the body passed kMaxModelAnswerBytes
};

struct Exchange {
  ExchangeOutcome outcome = ExchangeOutcome::kUnreachable;
  int status = 0;      // with kAnswered
  std::string body;    // with kAnswered
  std::string detail;  // with kUnreachable: the cause in Chinese, without the key
};

// POSTs the JSON body to config.base_url + `path` with "Content-Type:
// application/json", "Accept: application/json" and, when a key is set,
// "Authorization: Bearer <key>". Connecting (name lookup, TCP and TLS)
// must finish within bounds.connect, and the whole answer must be in within
// bounds.answer from the start: the library's time-outs apply per read, so
// a watchdog stops the exchange at the deadline whatever stage it is in.
// https verifies the server's certificate against the system's authorities
// (OpenSSL's default paths, which honour SSL_CERT_FILE). Redirects are not
// followed. Never throws.
Exchange post_json(const ModelConfig& config, std::string_view path, const std::string& body);

}  // namespace ruvo::desktop
