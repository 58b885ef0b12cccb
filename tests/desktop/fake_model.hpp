// A scripted chat-completions endpoint for the tests: an HTTP (or HTTPS)
// server on a thread of the test process, listening on 127.0.0.1 at a free
// port, recording every request and answering scripted replies.
#pragma once

#include "common/json.hpp"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace ruvo::desktop::testing {

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
};

struct RecordedRequest {
  std::string method;
  std::string path;
  std::string authorization;  // the Authorization header, "" when absent
  std::string body;
  JsonValue json;             // the body parsed, null when it is not JSON
};

// A chat-completions reply whose first choice's message content is
// `content`, with usage.total_tokens `tokens` and "model" "fake-model".
std::string completion_body(std::string_view content, int tokens = 42);

// {"term":…,"definition":…,"plain":…,"example":…} as a model writes it.
std::string explanation_json(std::string_view term, std::string_view definition, std::string_view plain,
                             std::string_view example);

// Writes a fresh self-signed certificate for IP 127.0.0.1 (usable as its own
// trust anchor) and its private key as PEM files; false on failure.
bool write_self_signed_certificate(const std::string& cert_path, const std::string& key_path);

class FakeModel {
 public:
  // Serves plain HTTP. Replies are used in order; the last one repeats.
  explicit FakeModel(std::vector<ScriptedReply> replies);
  // Serves HTTPS with the certificate and key files given.
  FakeModel(std::vector<ScriptedReply> replies, const std::string& cert_path, const std::string& key_path);
  // Lets hanging requests end, stops the server and joins its thread.
  ~FakeModel();
  FakeModel(const FakeModel&) = delete;
  FakeModel& operator=(const FakeModel&) = delete;

  int port() const { return port_; }
  // "http://127.0.0.1:<port>/v1" (https for the TLS server).
  std::string base_url() const;
  std::vector<RecordedRequest> requests() const;

 private:
  void start(std::vector<ScriptedReply> replies);

  std::unique_ptr<httplib::Server> server_;
  bool tls_ = false;
  int port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable released_cv_;
  bool released_ = false;
  std::vector<ScriptedReply> replies_;
  std::vector<RecordedRequest> requests_;
  std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens: bound, then closed again.
int closed_port();

}  // namespace ruvo::desktop::testing
