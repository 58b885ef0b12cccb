#include "support/fake_model.hpp"

#include "platform/files.hpp"
#include "platform/platform.hpp"

#include <microhttpd.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace ruvo::test {

std::string completion_body(std::string_view content, int tokens) {
  JsonValue body = {
      {"id", "chatcmpl-test"},
      {"object", "chat.completion"},
      {"model", "fake-model"},
      {"choices",
       JsonValue::array({JsonValue{{"index", 0},
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

bool write_self_signed_certificate(const std::string& cert_path, const std::string& key_path,
                                   const std::string& also_for_name) {
  const std::string names = "IP:127.0.0.1" + (also_for_name.empty() ? "" : ",DNS:" + also_for_name);
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
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1,
                               0);
    X509_set_issuer_name(cert, name);
    ok = add_extension(cert, NID_subject_alt_name, names.c_str()) &&
         add_extension(cert, NID_basic_constraints, "critical,CA:TRUE") && X509_sign(cert, key, EVP_sha256()) > 0;
  }
  ok = ok && write_pem(cert_path, [cert](std::FILE* f) { return PEM_write_X509(f, cert); }) &&
       write_pem(key_path,
                 [key](std::FILE* f) { return PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr); });
  X509_free(cert);
  EVP_PKEY_free(key);
  return ok;
}

bool add_to_certificate_folder(const std::string& cert_path, const std::string& folder) {
  auto pem = platform::read_file(cert_path);
  if (!pem) return false;
  BIO* bio = BIO_new_mem_buf(pem->data(), static_cast<int>(pem->size()));
  X509* cert = bio == nullptr ? nullptr : PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
  BIO_free(bio);
  if (cert == nullptr) return false;
  char name[16];
  std::snprintf(name, sizeof name, "%08lx.0", X509_subject_name_hash(cert));
  X509_free(cert);
  return platform::write_file_atomically(platform::join_path(folder, name), *pem).ok();
}

struct FakeModel::State {
  bool tls = false;
  int port = 0;
  std::string cert_pem;  // read by the library while it starts
  std::string key_pem;
  MHD_Daemon* daemon = nullptr;
  mutable std::mutex mutex;
  std::condition_variable released_cv;
  bool released = false;
  std::vector<ScriptedReply> replies;
  std::vector<RecordedRequest> requests;

  // Waits up to `wait` for the server to stop; true once it is stopping.
  bool released_within(std::chrono::milliseconds wait) {
    std::unique_lock<std::mutex> lock(mutex);
    return released_cv.wait_for(lock, wait, [this] { return released; });
  }
};

namespace {

using State = FakeModel::State;

std::string header_value(MHD_Connection* connection, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  return value == nullptr ? std::string() : std::string(value);
}

// The body of one request, gathered across the library's calls.
struct Upload {
  std::string body;
};

// One space every 100 ms until the server stops: each read is quick, the
// whole answer slow.
ssize_t trickle_piece(void* cls, std::uint64_t, char* buffer, std::size_t max) {
  auto& state = *static_cast<State*>(cls);
  if (max == 0 || state.released_within(std::chrono::milliseconds(100))) return MHD_CONTENT_READER_END_WITH_ERROR;
  buffer[0] = ' ';
  return 1;
}

// Spaces, a whole buffer at a time, until the server stops.
ssize_t endless_piece(void* cls, std::uint64_t, char* buffer, std::size_t max) {
  auto& state = *static_cast<State*>(cls);
  if (max == 0 || state.released_within(std::chrono::milliseconds(0))) return MHD_CONTENT_READER_END_WITH_ERROR;
  std::memset(buffer, ' ', max);
  return static_cast<ssize_t>(max);
}

MHD_Result queue(MHD_Connection* connection, int status, MHD_Response* response, const std::string& location = "") {
  if (response == nullptr) return MHD_NO;
  MHD_add_response_header(response, "Content-Type", "application/json");
  if (!location.empty()) MHD_add_response_header(response, "Location", location.c_str());
  MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(status), response);
  MHD_destroy_response(response);
  return queued;
}

// Every connection has a thread of its own, so a hanging or trickling reply
// may block here without holding up the others.
MHD_Result on_request(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                      const char* upload_data, std::size_t* upload_data_size, void** con_cls) {
  auto& state = *static_cast<State*>(cls);
  if (*con_cls == nullptr) {
    *con_cls = new Upload;
    return MHD_YES;
  }
  auto& upload = *static_cast<Upload*>(*con_cls);
  if (*upload_data_size > 0) {
    upload.body.append(upload_data, *upload_data_size);
    *upload_data_size = 0;
    return MHD_YES;
  }
  if (std::string_view(method) != "POST") {
    return queue(connection, 404, MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT));
  }
  ScriptedReply reply;
  {
    std::unique_lock<std::mutex> lock(state.mutex);
    RecordedRequest recorded{method,
                             url,
                             header_value(connection, "Authorization"),
                             header_value(connection, "Host"),
                             header_value(connection, "User-Agent"),
                             upload.body,
                             JsonValue()};
    auto parsed = common::parse_json(upload.body);
    if (parsed) recorded.json = *parsed;
    std::size_t index = state.requests.size();
    state.requests.push_back(std::move(recorded));
    if (!state.replies.empty()) reply = state.replies[std::min(index, state.replies.size() - 1)];
    if (reply.hang) {
      state.released_cv.wait(lock, [&state] { return state.released; });
      return MHD_NO;  // closes the connection without an answer
    }
  }
  if (reply.delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(reply.delay_ms));
  if (reply.endless) {
    return queue(connection, reply.status,
                 MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 64 * 1024, &endless_piece, &state, nullptr));
  }
  if (reply.trickle) {
    constexpr std::size_t kPieces = 600;
    return queue(connection, reply.status,
                 MHD_create_response_from_callback(kPieces, 1, &trickle_piece, &state, nullptr));
  }
  return queue(connection, reply.status,
               MHD_create_response_from_buffer(reply.body.size(), reply.body.data(), MHD_RESPMEM_MUST_COPY),
               reply.location);
}

void on_completed(void*, MHD_Connection*, void** con_cls, MHD_RequestTerminationCode) {
  delete static_cast<Upload*>(*con_cls);
  *con_cls = nullptr;
}

void start(State& state) {
  // A TLS write to a peer that has gone (a client that gave up) must not
  // raise SIGPIPE in the test process; programs the tests start get the
  // default back (see test::Child).
  std::signal(SIGPIPE, SIG_IGN);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION | MHD_USE_POLL;
  if (state.tls) {
    flags |= MHD_USE_TLS;
    state.daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &on_request, &state, MHD_OPTION_SOCK_ADDR,
                                    reinterpret_cast<sockaddr*>(&addr), MHD_OPTION_NOTIFY_COMPLETED, &on_completed,
                                    nullptr, MHD_OPTION_HTTPS_MEM_KEY, state.key_pem.c_str(), MHD_OPTION_HTTPS_MEM_CERT,
                                    state.cert_pem.c_str(), MHD_OPTION_END);
  } else {
    state.daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &on_request, &state, MHD_OPTION_SOCK_ADDR,
                                    reinterpret_cast<sockaddr*>(&addr), MHD_OPTION_NOTIFY_COMPLETED, &on_completed,
                                    nullptr, MHD_OPTION_END);
  }
  ASSERT_NE(state.daemon, nullptr) << "the fake model endpoint could not start";
  const MHD_DaemonInfo* info = MHD_get_daemon_info(state.daemon, MHD_DAEMON_INFO_BIND_PORT);
  ASSERT_NE(info, nullptr);
  state.port = info->port;
}

}  // namespace

FakeModel::FakeModel(std::vector<ScriptedReply> replies) : state_(std::make_unique<State>()) {
  state_->replies = std::move(replies);
  start(*state_);
}

FakeModel::FakeModel(std::vector<ScriptedReply> replies, const std::string& cert_path, const std::string& key_path)
    : state_(std::make_unique<State>()) {
  state_->replies = std::move(replies);
  state_->tls = true;
  state_->cert_pem = platform::read_file(cert_path).value_or("");
  state_->key_pem = platform::read_file(key_path).value_or("");
  start(*state_);
}

FakeModel::~FakeModel() {
  {
    std::lock_guard<std::mutex> guard(state_->mutex);
    state_->released = true;
  }
  state_->released_cv.notify_all();
  if (state_->daemon != nullptr) MHD_stop_daemon(state_->daemon);
}

int FakeModel::port() const { return state_->port; }

std::string FakeModel::base_url() const {
  return std::string(state_->tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(state_->port) + "/v1";
}

std::vector<RecordedRequest> FakeModel::requests() const {
  std::lock_guard<std::mutex> guard(state_->mutex);
  return state_->requests;
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

}  // namespace ruvo::test
