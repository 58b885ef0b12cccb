// A scripted chat-completions endpoint for the tests: an HTTP (or HTTPS)
// server (libmicrohttpd, TLS through GnuTLS) on threads of the test
// process, listening on 127.0.0.1 at a free port, recording every request
// and answering scripted replies.
#pragma once

#include "common/json.hpp"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ruvo::test {

using common::JsonValue;

struct ScriptedReply {
  int status = 200;
  std::string body;
  // Holds the request open, answering nothing, until the server is stopped:
  // a model that never finishes.
  bool hang = false;
  // Sends the head at once and then the body one byte every 100 ms, for a
  // minute or until the server is stopped: every single read is quick, only
  // the whole answer is slow.
  bool trickle = false;
  // Sends a body without a length (chunked) that never ends, as fast as the
  // client reads, until the server is stopped: an answer past every limit.
  bool endless = false;
  // Sent as a Location header when not empty.
  std::string location;
  // Answers only after this long: a model that thinks.
  int delay_ms = 0;
};

struct RecordedRequest {
  std::string method;
  std::string path;
  std::string authorization;  // the Authorization header, "" when absent
  std::string host;           // the Host header
  std::string user_agent;     // the User-Agent header
  std::string body;
  JsonValue json;  // the body parsed, null when it is not JSON
};

// A chat-completions reply whose first choice's message content is
// `content`, with usage.total_tokens `tokens` and "model" "fake-model".
std::string completion_body(std::string_view content, int tokens = 42);

// {"term":…,"definition":…,"plain":…,"example":…} as a model writes it.
std::string explanation_json(std::string_view term, std::string_view definition, std::string_view plain,
                             std::string_view example);

// Writes a fresh self-signed certificate for IP 127.0.0.1 and, when given,
// the host name `also_for_name` (usable as its own trust anchor) and its
// private key as PEM files; false on failure.
bool write_self_signed_certificate(const std::string& cert_path, const std::string& key_path,
                                   const std::string& also_for_name = "");

// Copies the certificate into `folder` under the name OpenSSL looks an
// authority up by there (its subject hash and ".0", as c_rehash names it):
// a folder that SSL_CERT_DIR can name. False on failure.
bool add_to_certificate_folder(const std::string& cert_path, const std::string& folder);

class FakeModel {
 public:
  // Serves plain HTTP. Replies are used in order; the last one repeats.
  explicit FakeModel(std::vector<ScriptedReply> replies);
  // Serves HTTPS with the certificate and key files given.
  FakeModel(std::vector<ScriptedReply> replies, const std::string& cert_path, const std::string& key_path);
  // Lets hanging requests end, stops the server and joins its threads.
  ~FakeModel();
  FakeModel(const FakeModel&) = delete;
  FakeModel& operator=(const FakeModel&) = delete;

  // 0 when the server could not start (the test then fails).
  int port() const;
  // "http://127.0.0.1:<port>/v1" (https for the TLS server).
  std::string base_url() const;
  std::vector<RecordedRequest> requests() const;

  struct State;  // what the server's callbacks share with the test

 private:
  std::unique_ptr<State> state_;
};

// A port on 127.0.0.1 where nothing listens: bound, then closed again.
int closed_port();

}  // namespace ruvo::test
