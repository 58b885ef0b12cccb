#include "http/http_server.hpp"

#include "common/json.hpp"
#include "common/utf8.hpp"
#include "http/sign_in.hpp"
#include "http/token.hpp"
#include "platform/listener.hpp"
#include "protocol/routes.hpp"
#include "ui/assets.hpp"

#include <microhttpd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

namespace ruvo::desktop {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kLoggedPathBytes = 200;
// Threads that read and write connections. Each carries thousands; more than
// the cores only helps while one waits for the disk on a save.
constexpr unsigned kEventThreads = 4;
// Explanations under way at once; each may wait up to 80 s for a model.
constexpr unsigned kExplainWorkers = 8;
// The library keeps a request's head, and its own buffers, in one pool per
// connection. A head between our limit and the pool's size still reaches us
// and gets our JSON 431; only a head past the pool is refused by the library
// itself (also 431, with its own body). The library maps a pool larger than
// 32 KiB from the system afresh for every connection, which cost a third of
// the throughput of one-request connections; at 32 KiB it comes from malloc.
constexpr std::size_t kConnectionPoolBytes = 32 * 1024;
// Files the process needs beside its connections: the store, log, lock,
// and the library's own.
constexpr unsigned kOtherFiles = 64;
// A refusal decided by the head waits while the client sends its body, and
// the body is thrown away: a connection closed with bytes unread is reset,
// and the reset can reach the client before it has read the refusal. Past
// this much the client is not waited for.
constexpr std::uint64_t kDiscardedBytes = 8 * 1024 * 1024;

// What a browser gets instead of the interface when it is not signed in.
constexpr std::string_view kSignedOutPage =
    "<!doctype html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>Ruvo：请先登录</title></head>"
    "<body><h1>请先登录</h1><p>在终端运行 <code>ruvo-gui.exe</code>，它会在浏览器里打开 Ruvo；"
    "或运行 <code>ruvo-gui.exe --url</code>，打开它给出的地址。</p></body></html>\n";
constexpr std::string_view kSignInRefusedPage =
    "<!doctype html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>Ruvo：登录地址已失效</title></head>"
    "<body><h1>这个登录地址已经用过或已过期</h1><p>每个登录地址只能用一次。在终端运行 <code>ruvo-gui.exe</code>"
    "（或 <code>ruvo-gui.exe --url</code>）取一个新的。</p></body></html>\n";

Reply page_reply(int status, std::string_view html) {
  Reply reply;
  reply.status = status;
  reply.raw = std::string(html);
  reply.content_type = "text/html; charset=utf-8";
  return reply;
}

bool all_digits(std::string_view text) {
  return !text.empty() && text.size() <= 5 &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A connection the library has accepted, tracked until it closes so that one
// that never finishes its request head can be cut off.
struct Tracked {
  int fd = -1;
  Clock::time_point accepted;
  std::atomic<bool> head_done{false};
  bool cut = false;  // guarded by the registry's mutex
};

// What the headers of a request say, read once.
struct HeadFacts {
  std::size_t bytes = 0;          // the head as sent, roughly: names, values, separators
  int hosts = 0;
  std::string host;
  int tokens = 0;
  std::optional<std::string> token;
  int lengths = 0;
  std::string length;
  bool transfer_encoding = false;
  bool expects_continue = false;  // the client sends its body only when told to
  std::string cookies;            // every Cookie header, joined by "; "
  int origins = 0;
  std::string origin;
  // Where each value ends in the library's buffer, and where the next header
  // line begins, to find values the library cut at a NUL.
  struct Line {
    const char* name;
    const char* value_end;  // null for an empty value
  };
  std::vector<Line> lines;

  // True when a value held a NUL with more after it. The library parses the
  // head in place and reads values as C strings, so "token\0junk" reaches us
  // as "token", with the rest still in the buffer up to the line's end,
  // which it also turned into NULs. A clean value ends at that terminator
  // (after any trailing blanks), or, for a line ended by a bare LF, where
  // the next line's name begins. The reads stay within the line.
  bool value_cut_at_nul() const {
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const char* p = lines[i].value_end;
      if (p == nullptr) continue;
      const char* next = i + 1 < lines.size() ? lines[i + 1].name : nullptr;
      ++p;  // past the NUL that ends the value
      while (*p == ' ' || *p == '\t') ++p;
      if (*p != '\0' && p != next) return true;
    }
    return false;
  }
};

enum MHD_Result collect_head(void* cls, enum MHD_ValueKind, const char* key, size_t key_size, const char* value,
                             size_t value_size) {
  auto& facts = *static_cast<HeadFacts*>(cls);
  const std::string name = common::ascii_lower(std::string_view(key, key_size));
  static const std::string token_name = common::ascii_lower(protocol::kTokenHeader);
  std::string_view text(value ? value : "", value ? value_size : 0);
  // Blanks around a value are not part of it; the library drops only those
  // before it.
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  facts.bytes += key_size + value_size + 4;
  facts.lines.push_back({key, value != nullptr && value_size > 0 ? value + value_size : nullptr});
  if (name == "host") {
    ++facts.hosts;
    facts.host = std::string(text);
  } else if (name == token_name) {
    ++facts.tokens;
    facts.token = std::string(text);
  } else if (name == "content-length") {
    ++facts.lengths;
    facts.length = std::string(text);
  } else if (name == "transfer-encoding") {
    facts.transfer_encoding = true;
  } else if (name == "expect") {
    facts.expects_continue = common::ascii_lower(text) == "100-continue";
  } else if (name == "cookie") {
    facts.cookies += (facts.cookies.empty() ? "" : "; ") + std::string(text);
  } else if (name == "origin") {
    ++facts.origins;
    facts.origin = std::string(text);
  }
  return MHD_YES;
}

// The declared length, or nothing when it is not a plain decimal number.
std::optional<std::uint64_t> declared_length(std::string_view text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t length = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    length = length * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return length;
}

// A streamed body on its way out: the piece being sent and how much of it
// has gone.
struct Streaming {
  std::shared_ptr<StreamedBody> body;
  std::string piece;
  std::size_t sent = 0;
};

ssize_t read_stream(void* cls, uint64_t, char* buffer, size_t room) {
  auto& streaming = *static_cast<Streaming*>(cls);
  if (streaming.sent == streaming.piece.size()) {
    auto next = streaming.body->next();
    // Cut off rather than ended: a client must not take a failed export
    // for a whole one.
    if (!next) return MHD_CONTENT_READER_END_WITH_ERROR;
    if (next->empty()) return MHD_CONTENT_READER_END_OF_STREAM;
    streaming.piece = std::move(next).value();
    streaming.sent = 0;
  }
  const std::size_t n = std::min(room, streaming.piece.size() - streaming.sent);
  std::memcpy(buffer, streaming.piece.data() + streaming.sent, n);
  streaming.sent += n;
  return static_cast<ssize_t>(n);
}

void free_stream(void* cls) { delete static_cast<Streaming*>(cls); }

MHD_Response* streamed_response(const std::shared_ptr<StreamedBody>& body) {
  auto* streaming = new Streaming{body, {}, 0};
  MHD_Response* response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 64 * 1024, read_stream, streaming,
                                                             free_stream);
  if (response == nullptr) {
    delete streaming;
    return nullptr;
  }
  MHD_add_response_header(response, "Content-Type", body->content_type.c_str());
  if (!body->file_name.empty()) {
    const std::string disposition = "attachment; filename=\"" + body->file_name + "\"";
    MHD_add_response_header(response, "Content-Disposition", disposition.c_str());
  }
  return response;
}

bool carries_body(std::string_view method) {
  return method == "POST" || method == "PUT" || method == "PATCH" || method == "DELETE";
}

// One request on its way through the callbacks.
struct Request {
  std::string method;
  std::string path;
  QueryParameters query;
  std::optional<std::string> token;
  // Sent without the token header: a browser's request, whose reply carries
  // browser_headers(). Replies to ruvo's requests stay exactly as they were.
  bool browser = false;
  std::string body;
  bool refused = false;  // answered before its body was read
  std::optional<Reply> refusal;  // to answer once the body sent meanwhile is thrown away
  std::uint64_t discarded = 0;
  bool working = false;  // handed to a worker; the connection rests
  bool answered = false; // the worker's reply is in `reply`
  Reply reply;
};

}  // namespace

struct HttpService::State {
  ServiceContext& ctx;
  Log& log;
  HttpLimits limits;
  int listen_fd = -1;
  int port = 0;
  MHD_Daemon* daemon = nullptr;
  Sessions sessions;

  // Connections still without a whole head, by the library's callbacks.
  std::mutex registry_mutex;
  std::unordered_set<Tracked*> registry;

  // The sweeper that cuts off connections past the head time-out.
  std::mutex sweep_mutex;
  std::condition_variable sweep_wake;
  bool sweeping = false;
  std::thread sweeper;

  // Explanations waiting for, or on, a worker.
  struct Job {
    MHD_Connection* connection;
    Request* request;
  };
  std::mutex jobs_mutex;
  std::condition_variable jobs_wake;
  std::deque<Job> jobs;
  bool closing = false;
  std::vector<std::thread> workers;

  State(ServiceContext& c, Log& l, HttpLimits lim) : ctx(c), log(l), limits(lim) {}

  void log_reply(const Request& request, int status) {
    std::string path = request.path.substr(0, kLoggedPathBytes);
    log.write(request.method + " " + path + " " + std::to_string(status));
  }

  // Queues the reply and logs it. The connection closes after it.
  enum MHD_Result answer(MHD_Connection* connection, const Request& request, const Reply& reply) {
    MHD_Response* response = nullptr;
    if (reply.stream) {
      response = streamed_response(reply.stream);
    } else {
      std::string body = reply.raw ? *reply.raw : common::to_compact(reply.body);
      response = MHD_create_response_from_buffer(body.size(), body.data(), MHD_RESPMEM_MUST_COPY);
      if (response != nullptr) {
        MHD_add_response_header(response, "Content-Type",
                                reply.raw ? reply.content_type.c_str() : "application/json; charset=utf-8");
      }
    }
    if (response == nullptr) return MHD_NO;
    MHD_add_response_header(response, "Connection", "close");
    for (const auto& [name, value] : reply.headers) MHD_add_response_header(response, name.c_str(), value.c_str());
    if (request.browser) {
      for (const auto& [name, value] : browser_headers()) {
        MHD_add_response_header(response, std::string(name).c_str(), std::string(value).c_str());
      }
    }
    enum MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
    MHD_destroy_response(response);
    log_reply(request, reply.status);
    return queued;
  }

  // What the head alone decides, in order: a foreign Host, an oversize head,
  // a change asked for by another origin's page, what the browser side
  // answers at once (browser_gate), then (through refusal_reply, which puts
  // a wrong token first) an ambiguous or unbounded body and one over the
  // limit. A signed-in browser's request goes on as if it carried the token.
  std::optional<Reply> refuse_by_head(const HeadFacts& facts, Request& request) {
    if (facts.hosts > 1 || (facts.hosts == 1 && !is_loopback_host(facts.host))) {
      return error_reply(403, "host", "Host 必须是本机回环地址（127.0.0.1、localhost 或 [::1]）");
    }
    if (facts.bytes + request.path.size() > limits.max_head_bytes) {
      return error_reply(431, "header_too_large",
                         "请求头超过 " + std::to_string(limits.max_head_bytes / 1024) + " KiB");
    }
    // Browsers name the page that sends a request; one from any page but
    // ours may change nothing, whatever cookie the browser adds to it.
    if (changes_state(request.method) && facts.origins > 0 &&
        (facts.origins > 1 || !is_own_origin(facts.origin, port))) {
      return error_reply(403, "origin", "拒绝来自其他网页的修改请求：只接受 Ruvo 自己页面发出的请求");
    }
    // A token given twice, or with bytes after a NUL, is no token.
    const bool cut = facts.value_cut_at_nul();
    std::optional<std::string> token = facts.tokens == 1 && !cut ? facts.token : std::nullopt;
    const bool token_valid = token && tokens_equal(*token, ctx.token);
    bool signed_in = false;
    if (facts.tokens == 0 && !cut) {
      auto session = cookie_value(facts.cookies, session_cookie_name(port));
      signed_in = session && sessions.valid(*session);
    }
    if (auto early = browser_gate(request, token_valid, signed_in)) return early;
    if (signed_in) token = ctx.token;
    request.token = token;
    if (facts.lengths > 1 || cut) return refusal_reply(ctx, 400, token);
    if (facts.transfer_encoding || (carries_body(request.method) && facts.lengths == 0)) {
      return refusal_reply(ctx, 411, token);
    }
    if (facts.lengths == 1) {
      auto length = declared_length(facts.length);
      if (!length) return refusal_reply(ctx, 400, token);
      const std::size_t limit = max_body_bytes(request.method, request.path);
      if (*length > limit) return refusal_reply(ctx, 413, token, limit);
    }
    return std::nullopt;
  }

  // The browser side, answered from the head alone: the sign-in, the
  // sign-in links ruvo-gui.exe asks for, and the pages. Nothing for the API
  // routes.
  std::optional<Reply> browser_gate(const Request& request, bool token_valid, bool signed_in) {
    const bool reads = request.method == "GET" || request.method == "HEAD";
    if (request.path == kSignInPath) {
      // Only a GET spends the secret: a HEAD (a link checker, say) must not.
      if (request.method != "GET") return error_reply(405, "method_not_allowed", "登录地址只接受 GET 请求");
      auto secret = request.query.find(kSignInSecretParameter);
      auto session = secret == request.query.end() ? std::nullopt : sessions.redeem(secret->second);
      if (!session) return page_reply(401, kSignInRefusedPage);
      Reply reply = page_reply(303, "");
      reply.headers = {{"Location", "/"}, {"Set-Cookie", session_cookie(session_cookie_name(port), *session)}};
      return reply;
    }
    if (request.path == kSignInLinkPath) {
      if (!token_valid) return refusal_reply(ctx, 401, std::nullopt);
      if (request.method != "POST") return error_reply(405, "method_not_allowed", "接口 /v1/sign-in-link 只接受 POST 请求");
      auto secret = sessions.issue_secret();
      if (!secret) return error_reply(500, "internal", "系统没有给出随机数，生成不了登录地址");
      Reply reply;
      reply.body["ok"] = true;
      reply.body["url"] = "http://127.0.0.1:" + std::to_string(port) + std::string(kSignInPath) + "?" +
                          std::string(kSignInSecretParameter) + "=" + *secret;
      return reply;
    }
    if (const Asset* asset = find_asset(request.path)) {
      if (!token_valid && !signed_in) return page_reply(401, kSignedOutPage);
      if (!reads) return error_reply(405, "method_not_allowed", "页面只接受 GET 请求");
      Reply reply = page_reply(200, asset->bytes);
      reply.content_type = std::string(asset->content_type);
      return reply;
    }
    return std::nullopt;
  }

  void work() {
    for (;;) {
      Job job{};
      {
        std::unique_lock<std::mutex> lock(jobs_mutex);
        jobs_wake.wait(lock, [this] { return closing || !jobs.empty(); });
        if (jobs.empty()) return;
        job = jobs.front();
        jobs.pop_front();
      }
      job.request->reply = handle_request(ctx, job.request->method, job.request->path, job.request->query,
                                          job.request->token, job.request->body);
      job.request->answered = true;
      // The library calls the handler again on its own thread, which then
      // sees the reply (the resume takes the library's lock).
      MHD_resume_connection(job.connection);
    }
  }

  void sweep() {
    std::unique_lock<std::mutex> lock(sweep_mutex);
    while (sweeping) {
      sweep_wake.wait_for(lock, std::chrono::milliseconds(500));
      const auto limit = Clock::now() - std::chrono::seconds(limits.head_timeout_s);
      std::lock_guard<std::mutex> guard(registry_mutex);
      for (Tracked* tracked : registry) {
        if (tracked->cut || tracked->head_done || tracked->accepted > limit) continue;
        // Shutting the socket down wakes the library, which reads the end
        // of the stream and closes the connection itself. The descriptor is
        // still the connection's: the library tells us before closing it,
        // under this same lock.
        platform::shut_down_socket(tracked->fd);
        tracked->cut = true;
      }
    }
  }
};

namespace {

using State = HttpService::State;

// At the bound the library would stop accepting and leave new connections
// waiting in the backlog, so ruvo would wait too; it is told to take them all
// and this closes those past our own bound at once instead. Connections
// accepted at the same moment on several threads may pass it by one each.
enum MHD_Result on_accept(void* cls, const struct sockaddr*, socklen_t) {
  auto& state = *static_cast<State*>(cls);
  std::lock_guard<std::mutex> guard(state.registry_mutex);
  return state.registry.size() < state.limits.max_connections ? MHD_YES : MHD_NO;
}

void on_connection(void* cls, MHD_Connection* connection, void** socket_context,
                   enum MHD_ConnectionNotificationCode code) {
  auto& state = *static_cast<State*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    auto* tracked = new Tracked;
    tracked->fd = info ? info->connect_fd : -1;
    tracked->accepted = Clock::now();
    std::lock_guard<std::mutex> guard(state.registry_mutex);
    state.registry.insert(tracked);
    *socket_context = tracked;
    return;
  }
  auto* tracked = static_cast<Tracked*>(*socket_context);
  if (tracked == nullptr) return;
  {
    std::lock_guard<std::mutex> guard(state.registry_mutex);
    state.registry.erase(tracked);
  }
  delete tracked;
  *socket_context = nullptr;
}

void on_completed(void*, MHD_Connection*, void** request_context, enum MHD_RequestTerminationCode) {
  delete static_cast<Request*>(*request_context);
  *request_context = nullptr;
}

void mark_head_done(MHD_Connection* connection) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
  if (info && info->socket_context) static_cast<Tracked*>(info->socket_context)->head_done = true;
}

// Collects the query string's parameters (the library has decoded them).
enum MHD_Result collect_argument(void* cls, MHD_ValueKind, const char* key, const char* value) {
  if (key != nullptr) (*static_cast<QueryParameters*>(cls))[key] = value ? value : "";
  return MHD_YES;
}

enum MHD_Result on_request(void* cls, MHD_Connection* connection, const char* url, const char* method,
                           const char*, const char* upload_data, size_t* upload_data_size, void** request_context) {
  auto& state = *static_cast<State*>(cls);
  auto* request = static_cast<Request*>(*request_context);
  if (request == nullptr) {
    mark_head_done(connection);
    request = new Request;
    *request_context = request;
    request->method = method ? method : "";
    request->path = url ? url : "";
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, collect_argument, &request->query);
    HeadFacts facts;
    MHD_get_connection_values_n(connection, MHD_HEADER_KIND, collect_head, &facts);
    facts.bytes += request->method.size() + 12;  // the request line around the path
    request->browser = facts.tokens == 0;
    if (auto refusal = state.refuse_by_head(facts, *request)) {
      const auto length = declared_length(facts.length);
      const bool body_coming =
          !facts.expects_continue && (facts.transfer_encoding || (length && *length > 0));
      if (body_coming) {
        request->refusal = std::move(refusal);
        return MHD_YES;
      }
      request->refused = true;
      return state.answer(connection, *request, *refusal);
    }
    return MHD_YES;  // the body, if any, comes in the next calls
  }
  if (request->refused) {
    *upload_data_size = 0;  // never stored: the reply is already on its way
    return MHD_YES;
  }
  if (request->refusal) {
    request->discarded += *upload_data_size;
    const bool whole = *upload_data_size == 0;
    *upload_data_size = 0;
    if (!whole && request->discarded <= kDiscardedBytes) return MHD_YES;
    request->refused = true;
    return state.answer(connection, *request, *request->refusal);
  }
  if (*upload_data_size > 0) {
    // The declared length is at most max_body_bytes and the library delivers
    // no more than it declared.
    request->body.append(upload_data, *upload_data_size);
    *upload_data_size = 0;
    return MHD_YES;
  }
  if (request->answered) return state.answer(connection, *request, request->reply);
  if (request->working) return MHD_YES;

  if (runs_long(request->method, request->path)) {
    std::lock_guard<std::mutex> guard(state.jobs_mutex);
    if (!state.closing) {
      request->working = true;
      MHD_suspend_connection(connection);
      state.jobs.push_back({connection, request});
      state.jobs_wake.notify_one();
      return MHD_YES;
    }
  }
  Reply reply =
      handle_request(state.ctx, request->method, request->path, request->query, request->token, request->body);
  return state.answer(connection, *request, reply);
}

}  // namespace

bool is_loopback_host(std::string_view host) {
  std::string_view name = host;
  std::string_view port;
  if (!host.empty() && host.front() == '[') {
    auto close = host.find(']');
    if (close == std::string_view::npos) return false;
    name = host.substr(0, close + 1);
    std::string_view rest = host.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return false;
      port = rest.substr(1);
      if (!all_digits(port)) return false;
    }
  } else if (auto colon = host.find(':'); colon != std::string_view::npos) {
    name = host.substr(0, colon);
    port = host.substr(colon + 1);
    if (!all_digits(port)) return false;
  }
  return name == "127.0.0.1" || common::ascii_lower(name) == "localhost" || name == "[::1]";
}

HttpService::HttpService(ServiceContext& ctx, Log& log, HttpLimits limits)
    : state_(std::make_unique<State>(ctx, log, limits)) {}

HttpService::~HttpService() { stop(); }

int HttpService::bind() {
  if (state_->listen_fd >= 0) return state_->port;
  auto listener = platform::listen_on_loopback();
  if (!listener) return 0;
  state_->listen_fd = listener->fd;
  state_->port = listener->port;
  return state_->port;
}

unsigned HttpService::max_connections() const { return state_->limits.max_connections; }

bool HttpService::start() {
  State& s = *state_;
  if (s.listen_fd < 0 || s.daemon != nullptr) return false;
  // Every connection is a descriptor: make room for the bound, or lower the
  // bound to the room there is.
  // The library's own bound sits well above ours (see on_accept).
  const std::uint64_t room = platform::raise_open_file_limit(2ull * s.limits.max_connections + kOtherFiles);
  if (room < 2ull * s.limits.max_connections + kOtherFiles) {
    s.limits.max_connections = room > 4 * kOtherFiles ? static_cast<unsigned>((room - kOtherFiles) / 2) : kOtherFiles;
  }

  for (unsigned i = 0; i < kExplainWorkers; ++i) s.workers.emplace_back([&s] { s.work(); });
  s.sweeping = true;
  s.sweeper = std::thread([&s] { s.sweep(); });

  s.daemon = MHD_start_daemon(
      MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME, 0, on_accept, &s, on_request, &s,
      MHD_OPTION_LISTEN_SOCKET, static_cast<MHD_socket>(s.listen_fd),
      MHD_OPTION_THREAD_POOL_SIZE, kEventThreads,
      MHD_OPTION_CONNECTION_LIMIT, 2 * s.limits.max_connections,
      MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(s.limits.idle_timeout_s),
      MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionPoolBytes,
      MHD_OPTION_NOTIFY_CONNECTION, on_connection, &s,
      MHD_OPTION_NOTIFY_COMPLETED, on_completed, &s,
      MHD_OPTION_END);
  if (s.daemon == nullptr) {
    stop();
    return false;
  }
  return true;
}

void HttpService::stop() {
  State& s = *state_;
  // Stop taking connections, let the workers finish what they hold (each
  // resumes its connection, which the library then answers), then close.
  MHD_socket quiesced = MHD_INVALID_SOCKET;
  if (s.daemon != nullptr) quiesced = MHD_quiesce_daemon(s.daemon);
  {
    std::lock_guard<std::mutex> guard(s.jobs_mutex);
    s.closing = true;
  }
  s.jobs_wake.notify_all();
  for (auto& worker : s.workers) {
    if (worker.joinable()) worker.join();
  }
  s.workers.clear();
  {
    std::lock_guard<std::mutex> guard(s.sweep_mutex);
    s.sweeping = false;
  }
  s.sweep_wake.notify_all();
  if (s.sweeper.joinable()) s.sweeper.join();
  if (s.daemon != nullptr) {
    MHD_stop_daemon(s.daemon);  // closes the socket unless it was quiesced
    s.daemon = nullptr;
    if (quiesced != MHD_INVALID_SOCKET) platform::close_descriptor(quiesced);
  } else if (s.listen_fd >= 0) {
    platform::close_descriptor(s.listen_fd);
  }
  s.listen_fd = -1;
}

}  // namespace ruvo::desktop
