#include "fake_model.hpp"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ruvo::desktop::testing {

std::string completion_body(std::string_view content, int tokens) {
  JsonValue body = {
      {"id", "chatcmpl-test"},
      {"object", "chat.completion"},
      {"model", "fake-model"},
      {"choices", JsonValue::array({JsonValue{{"index", 0},
                                              {"finish_reason", "stop"},
                                              {"message", {{"role", "assistant"}, {"content", std::string(content)}}}}})},
      {"usage", {{"prompt_tokens", tokens / 2}, {"completion_tokens", tokens - tokens / 2}, {"total_tokens", tokens}}},
  };
  return common::to_compact(body);
}

std::string explanation_json(std::string_view term, std::string_view definition, std::string_view plain,
                             std::string_view example) {
  return common::to_compact(JsonValue{{"term", std::string(term)},
                                      {"definition", std::string(definition)},
                                      {"plain", std::string(plain)},
                                      {"example", std::string(example)}});
}

namespace {

bool add_extension(X509* cert, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (ext == nullptr) return false;
  bool ok = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return ok;
}

bool write_pem(const std::string& path, const std::function<int(std::FILE*)>& write) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = write(file) == 1;
  return std::fclose(file) == 0 && ok;
}

}  // namespace

bool write_self_signed_certificate(const std::string& cert_path, const std::string& key_path) {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  bool ok = key != nullptr && cert != nullptr;
  if (ok) {
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1,
                               -1, 0);
    X509_set_issuer_name(cert, name);
    ok = add_extension(cert, NID_subject_alt_name, "IP:127.0.0.1") &&
         add_extension(cert, NID_basic_constraints, "critical,CA:TRUE") && X509_sign(cert, key, EVP_sha256()) > 0;
  }
  ok = ok && write_pem(cert_path, [cert](std::FILE* f) { return PEM_write_X509(f, cert); }) &&
       write_pem(key_path, [key](std::FILE* f) {
         return PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
       });
  X509_free(cert);
  EVP_PKEY_free(key);
  return ok;
}

FakeModel::FakeModel(std::vector<ScriptedReply> replies) : server_(std::make_unique<httplib::Server>()) {
  start(std::move(replies));
}

FakeModel::FakeModel(std::vector<ScriptedReply> replies, const std::string& cert_path, const std::string& key_path)
    : server_(std::make_unique<httplib::SSLServer>(cert_path.c_str(), key_path.c_str())), tls_(true) {
  start(std::move(replies));
}

void FakeModel::start(std::vector<ScriptedReply> replies) {
  // TLS writes to a peer that has gone (a client that gave up) would raise
  // SIGPIPE in the test process; programs the tests start get the default
  // back (see test::Child).
  std::signal(SIGPIPE, SIG_IGN);
  replies_ = std::move(replies);
  server_->Post(".*", [this](const httplib::Request& req, httplib::Response& res) {
    ScriptedReply reply;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      RecordedRequest recorded{req.method, req.path, req.get_header_value("Authorization"), req.body, JsonValue()};
      auto parsed = common::parse_json(req.body);
      if (parsed) recorded.json = *parsed;
      std::size_t index = requests_.size();
      requests_.push_back(std::move(recorded));
      if (!replies_.empty()) reply = replies_[std::min(index, replies_.size() - 1)];
      if (reply.hang) {
        released_cv_.wait(lock, [this] { return released_; });
        return;
      }
    }
    res.status = reply.status;
    if (reply.trickle) {
      constexpr std::size_t kPieces = 600;
      res.set_content_provider(kPieces, "application/json", [this](std::size_t, std::size_t, httplib::DataSink& sink) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (released_cv_.wait_for(lock, std::chrono::milliseconds(100), [this] { return released_; })) return false;
        lock.unlock();
        return sink.write(" ", 1);
      });
      return;
    }
    res.set_content(reply.body, "application/json");
  });
  port_ = server_->bind_to_any_port("127.0.0.1");
  if (port_ <= 0) return;
  thread_ = std::thread([this] { server_->listen_after_bind(); });
  while (!server_->is_running()) std::this_thread::yield();
}

FakeModel::~FakeModel() {
  {
    std::lock_guard<std::mutex> guard(mutex_);
    released_ = true;
  }
  released_cv_.notify_all();
  server_->stop();
  if (thread_.joinable()) thread_.join();
}

std::string FakeModel::base_url() const {
  return std::string(tls_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + "/v1";
}

std::vector<RecordedRequest> FakeModel::requests() const {
  std::lock_guard<std::mutex> guard(mutex_);
  return requests_;
}

int closed_port() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 1;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  int port = 1;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  ::close(fd);
  return port;
}

}  // namespace ruvo::desktop::testing
