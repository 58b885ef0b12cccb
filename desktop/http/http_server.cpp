// The libmicrohttpd adapter: the library's callbacks in, the gate and the
// handlers behind them, and the service's threads (the library's event
// threads, the workers, the sweeper) started and stopped.
#include "http/http_server.hpp"

#include "answers/store_errors.hpp"
#include "http/connections.hpp"
#include "http/gate.hpp"
#include "http/responses.hpp"
#include "http/sessions.hpp"
#include "http/token.hpp"
#include "http/workers.hpp"
#include "platform/files.hpp"
#include "platform/listener.hpp"

#include <microhttpd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace ruvo::desktop::http {

namespace {

constexpr std::size_t kLoggedPathBytes = 200;
// Threads that read and write connections. Each carries thousands; more than
// the cores only helps while one waits for the disk on a save.
constexpr unsigned kEventThreads = 4;
// Requests on workers at once; an explanation may wait up to 80 s for a model.
constexpr unsigned kWorkers = 8;
// Writes run on threads of their own: each may wait for the store's writer,
// and none may wait behind explanations. The writer takes one at a time, so
// two threads keep it busy; a write that waited in the queue longer than
// the store would have waited for its writer is answered busy unrun.
constexpr unsigned kWriteThreads = 2;
constexpr std::size_t kWritesWaiting = 16;
constexpr std::chrono::seconds kWriteQueueWait{2};
// Searches likewise: each may take the store's whole search budget, and
// the threads lookups and explanations use must stay free of them.
constexpr unsigned kSearchThreads = 2;
constexpr std::size_t kSearchesWaiting = 8;
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

// The one import whose body is being written to its file: held from its
// head to its end, when the file is removed.
class ImportSlot {
 public:
  ImportSlot(std::atomic<bool>& taken, std::string path) : taken_(taken), file_(std::move(path)) {}
  ~ImportSlot() {
    file.reset();
    (void)platform::remove_file(file_);
    taken_.store(false);
  }
  ImportSlot(const ImportSlot&) = delete;
  ImportSlot& operator=(const ImportSlot&) = delete;
  const std::string& path() const { return file_; }

  std::optional<platform::AppendFile> file;
  std::uint64_t written = 0;
  bool failed = false;  // a write to the file failed: the import is refused

 private:
  std::atomic<bool>& taken_;
  std::string file_;
};

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
  std::unique_ptr<ImportSlot> import;  // an import's body goes to its file
  bool refused = false;                // answered before its body was read
  std::optional<Reply> refusal;        // to answer once the body sent meanwhile is thrown away
  std::uint64_t discarded = 0;
  bool working = false;   // handed to a worker; the connection rests
  bool answered = false;  // the worker's reply is in `reply`
  Reply reply;
};

}  // namespace

struct HttpService::State {
  HandlerContext& ctx;
  LogSink log;
  HttpLimits limits;
  int listen_fd = -1;
  int port = 0;
  MHD_Daemon* daemon = nullptr;
  Sessions sessions;
  ConnectionRegistry connections;
  WorkerPool workers;
  WorkerPool writes;
  WorkerPool searches;
  std::atomic<bool> importing{false};  // an import's body is on its way or being imported

  State(HandlerContext& c, LogSink l, HttpLimits lim) : ctx(c), log(std::move(l)), limits(lim) {}

  BrowserSide browser() { return BrowserSide{sessions, port}; }

  void log_reply(const Request& request, int status) {
    if (!log) return;
    std::string path = request.path.substr(0, kLoggedPathBytes);
    log(request.method + " " + path + " " + std::to_string(status));
  }

  // Queues the reply and logs it. The connection closes after it.
  enum MHD_Result answer(MHD_Connection* connection, const Request& request, const Reply& reply) {
    MHD_Response* response = make_response(reply, request.browser);
    if (response == nullptr) return MHD_NO;
    enum MHD_Result queued = MHD_queue_response(connection, static_cast<unsigned>(reply.status), response);
    MHD_destroy_response(response);
    log_reply(request, reply.status);
    return queued;
  }

  Reply handle(const Request& request) {
    if (request.import) {
      if (request.import->failed) {
        return error_reply(500, "internal", "导入的内容没能写进临时文件 " + request.import->path());
      }
      return handle_request(ctx, request.method, request.path, request.query, request.token, request.import->path(),
                            request.import->written);
    }
    return handle_request(ctx, request.method, request.path, request.query, request.token, request.body);
  }

  WorkerPool& pool(Pool which) {
    return which == Pool::kWrites ? writes : which == Pool::kSearches ? searches : workers;
  }
};

namespace {

using State = HttpService::State;

// At the bound the library would stop accepting and leave new connections
// waiting in the backlog, so ruvo would wait too; it is told to take them all
// and this decides past our own bound instead. A new connection there takes
// the place of the oldest one that has not sent a whole head: a flood of
// connections that send nothing then only ever cuts off its own, and a
// request that sends its head at once always gets in. When every
// connection has sent its head, the new one is closed at once. Connections
// accepted at the same moment on several threads may pass the bound by one
// each, and those being cut off are not counted while the library closes
// them, up to twice our bound in all (the descriptors start() makes room
// for).
enum MHD_Result on_accept(void* cls, const struct sockaddr*, socklen_t) {
  auto& state = *static_cast<State*>(cls);
  return state.connections.make_room(state.limits.max_connections) ? MHD_YES : MHD_NO;
}

void on_connection(void* cls, MHD_Connection* connection, void** socket_context,
                   enum MHD_ConnectionNotificationCode code) {
  auto& state = *static_cast<State*>(cls);
  if (code == MHD_CONNECTION_NOTIFY_STARTED) {
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    *socket_context = state.connections.track(info ? info->connect_fd : -1);
    return;
  }
  auto* tracked = static_cast<Tracked*>(*socket_context);
  if (tracked == nullptr) return;
  state.connections.forget(tracked);
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

enum MHD_Result collect_head(void* cls, enum MHD_ValueKind, const char* key, size_t key_size, const char* value,
                             size_t value_size) {
  static_cast<HeadFacts*>(cls)->add(std::string_view(key, key_size), value, value_size);
  return MHD_YES;
}

// An import's body is written to a file as it arrives, one import at a time,
// so that neither its size nor a client that stops sending costs memory; a
// second import, or one without the token, is refused before its body is
// read. Nothing when the body may come.
std::optional<Reply> take_import(State& state, Request& request) {
  if (!request.token || !tokens_equal(*request.token, state.ctx.token)) return unauthorized();
  if (state.importing.exchange(true)) {
    return error_reply(503, "busy", "已经有一个导入在进行，请等它结束再导入");
  }
  auto slot = std::make_unique<ImportSlot>(state.importing, state.ctx.import_file);
  // Whatever an earlier import left there is no part of this one.
  auto removed = platform::remove_file(slot->path());
  auto opened = removed ? platform::AppendFile::open(slot->path()) : Result<platform::AppendFile>(removed.error());
  if (!opened) {
    return error_reply(500, "internal", "没能打开导入用的临时文件：" + opened.error().text());
  }
  slot->file = std::move(opened).value();
  request.import = std::move(slot);
  return std::nullopt;
}

// The first call for a request: its head is in. The gate decides what the
// head alone can; what it lets through waits for its body.
enum MHD_Result on_head(State& state, MHD_Connection* connection, Request& request) {
  mark_head_done(connection);
  MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, collect_argument, &request.query);
  HeadFacts facts;
  MHD_get_connection_values_n(connection, MHD_HEADER_KIND, collect_head, &facts);
  facts.bytes += request.method.size() + 12;  // the request line around the path
  request.browser = facts.tokens == 0;
  Admission admitted = admit(facts, request.method, request.path, request.query, state.ctx, state.browser(),
                             state.limits.max_head_bytes);
  request.token = std::move(admitted.token);
  if (!admitted.reply && body_goes_to_file(request.method, request.path) && !state.ctx.import_file.empty()) {
    admitted.reply = take_import(state, request);
  }
  if (!admitted.reply) return MHD_YES;  // the body, if any, comes in the next calls
  if (body_follows(facts)) {
    request.refusal = std::move(admitted.reply);
    return MHD_YES;
  }
  request.refused = true;
  return state.answer(connection, request, *admitted.reply);
}

enum MHD_Result on_request(void* cls, MHD_Connection* connection, const char* url, const char* method, const char*,
                           const char* upload_data, size_t* upload_data_size, void** request_context) {
  auto& state = *static_cast<State*>(cls);
  auto* request = static_cast<Request*>(*request_context);
  if (request == nullptr) {
    request = new Request;
    *request_context = request;
    request->method = method ? method : "";
    request->path = url ? url : "";
    return on_head(state, connection, *request);
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
    // The declared length is at most body_limit and the library delivers no
    // more than it declared.
    if (auto& import = request->import) {
      import->failed = import->failed || !import->file->append(std::string_view(upload_data, *upload_data_size));
      import->written += *upload_data_size;
    } else {
      request->body.append(upload_data, *upload_data_size);
    }
    *upload_data_size = 0;
    return MHD_YES;
  }
  if (request->answered) return state.answer(connection, *request, request->reply);
  if (request->working) return MHD_YES;

  if (request->import) request->import->file.reset();  // all of it is on disk before it is read
  const Pool pool = pool_for(request->method, request->path);
  if (pool != Pool::kEvent) {
    // The library calls this again on its own thread once the worker has
    // resumed the connection (the resume takes the library's lock), and the
    // reply is then answered above.
    const auto queued = std::chrono::steady_clock::now();
    auto job = [&state, connection, request, pool, queued] {
      const bool waited_too_long = pool == Pool::kWrites && std::chrono::steady_clock::now() - queued > kWriteQueueWait;
      request->reply = waited_too_long ? error_reply(answers::store_busy()) : state.handle(*request);
      request->answered = true;
      MHD_resume_connection(connection);
    };
    auto rest = [connection, request] {
      request->working = true;
      MHD_suspend_connection(connection);
    };
    switch (state.pool(pool).submit(job, rest)) {
      case Submitted::kQueued:
        return MHD_YES;
      case Submitted::kFull:
        return state.answer(connection, *request,
                            pool == Pool::kSearches ? error_reply(503, "busy", "同时进行的搜索太多，请稍后再试")
                                                    : error_reply(answers::store_busy()));
      case Submitted::kStopped:
        break;  // stopping: answered here
    }
  }
  return state.answer(connection, *request, state.handle(*request));
}

}  // namespace

HttpService::HttpService(HandlerContext& ctx, LogSink log, HttpLimits limits)
    : state_(std::make_unique<State>(ctx, std::move(log), limits)) {}

HttpService::~HttpService() { stop(); }

common::Result<int> HttpService::bind() {
  if (state_->listen_fd >= 0) return state_->port;
  auto listener = platform::listen_on_loopback();
  if (!listener) return listener.error();
  state_->listen_fd = listener->fd;
  state_->port = listener->port;
  return state_->port;
}

unsigned HttpService::max_connections() const { return state_->limits.max_connections; }

common::Result<void> HttpService::start() {
  State& s = *state_;
  if (s.listen_fd < 0) return common::failure("not listening yet");
  if (s.daemon != nullptr) return common::failure("already serving");
  // Every connection is a descriptor: make room for the bound, or lower the
  // bound to the room there is.
  const std::uint64_t room = platform::raise_open_file_limit(2ull * s.limits.max_connections + kOtherFiles);
  if (room < 2ull * s.limits.max_connections + kOtherFiles) {
    s.limits.max_connections = room > 4 * kOtherFiles ? static_cast<unsigned>((room - kOtherFiles) / 2) : kOtherFiles;
  }

  s.workers.start(kWorkers);
  s.writes.start(kWriteThreads, kWritesWaiting);
  s.searches.start(kSearchThreads, kSearchesWaiting);
  s.connections.start_sweeping(std::chrono::seconds(s.limits.head_timeout_s));
  // The library splits its own bound evenly between its threads, and which
  // thread accepts a connection is up to the system: each share is all of
  // ours, so only on_accept ever decides.
  const unsigned library_bound = kEventThreads * 2 * s.limits.max_connections;

  s.daemon = MHD_start_daemon(MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME, 0, on_accept, &s, on_request,
                              &s, MHD_OPTION_LISTEN_SOCKET, static_cast<MHD_socket>(s.listen_fd),
                              MHD_OPTION_THREAD_POOL_SIZE, kEventThreads, MHD_OPTION_CONNECTION_LIMIT, library_bound,
                              MHD_OPTION_CONNECTION_TIMEOUT, static_cast<unsigned>(s.limits.idle_timeout_s),
                              MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionPoolBytes, MHD_OPTION_NOTIFY_CONNECTION,
                              on_connection, &s, MHD_OPTION_NOTIFY_COMPLETED, on_completed, &s, MHD_OPTION_END);
  if (s.daemon == nullptr) {
    stop();
    return common::failure("the HTTP server library did not start");
  }
  return {};
}

void HttpService::stop() {
  State& s = *state_;
  // Stop taking connections, let the workers finish what they hold (each
  // resumes its connection, which the library then answers), then close.
  MHD_socket quiesced = MHD_INVALID_SOCKET;
  if (s.daemon != nullptr) quiesced = MHD_quiesce_daemon(s.daemon);
  s.workers.stop();
  s.writes.stop();
  s.searches.stop();
  s.connections.stop_sweeping();
  if (s.daemon != nullptr) {
    MHD_stop_daemon(s.daemon);  // closes the socket unless it was quiesced
    s.daemon = nullptr;
    if (quiesced != MHD_INVALID_SOCKET) platform::close_descriptor(quiesced);
  } else if (s.listen_fd >= 0) {
    platform::close_descriptor(s.listen_fd);
  }
  s.listen_fd = -1;
}

}  // namespace ruvo::desktop::http
