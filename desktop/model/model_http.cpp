#include "model/model_http.hpp"

#include "protocol/version.hpp"

#include <curl/curl.h>

#include <chrono>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>

namespace ruvo::desktop::model {

namespace {

struct EasyCleanup {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct ListCleanup {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Easy = std::unique_ptr<CURL, EasyCleanup>;
using HeaderList = std::unique_ptr<curl_slist, ListCleanup>;

// What the body callback collected. The callback is called from C, so
// nothing may leave it as an exception.
struct Received {
  std::string body;
  bool too_large = false;
  bool failed = false;  // no memory for the body
};

std::size_t on_body(char* data, std::size_t size, std::size_t count, void* user) {
  auto& received = *static_cast<Received*>(user);
  const std::size_t bytes = size * count;
  // Every piece of the body passes here, so an endless answer is cut at the
  // size limit whatever its head announced. Returning a different count
  // makes the library end the call.
  if (received.body.size() + bytes > kMaxModelAnswerBytes) {
    received.too_large = true;
    return 0;
  }
  try {
    received.body.append(data, bytes);
  } catch (const std::exception&) {
    received.failed = true;
    return 0;
  }
  return bytes;
}

std::string seconds_text(std::chrono::milliseconds bound) {
  auto ms = bound.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000);
  return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100);
}

std::string failure_detail(CURLcode code, long proxy_status, const ModelConfig& config) {
  // A proxy that refused the tunnel answered with a status of its own; the
  // code alone would read like a broken connection.
  if (proxy_status >= 300) return "代理服务器拒绝了通往模型服务的连接（HTTP " + std::to_string(proxy_status) + "）";
  switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
      return "连接失败（地址不对、服务没有运行，或连接被拒绝）";
    case CURLE_COULDNT_RESOLVE_PROXY:
      return "找不到代理服务器（请检查 https_proxy、http_proxy、all_proxy 环境变量）";
    case CURLE_OPERATION_TIMEDOUT:
      return "连接超时（" + seconds_text(config.bounds.connect) + " 秒）";
    case CURLE_SSL_CONNECT_ERROR:
      return "TLS 握手失败";
    case CURLE_PEER_FAILED_VERIFICATION:
      return "服务器证书校验失败";
    case CURLE_SSL_CACERT_BADFILE:
      return "读不到系统的 CA 证书";
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
      return "连接被对方断开，没有收到完整的回复";
    case CURLE_SEND_ERROR:
      return "发送请求时连接断开";
    case CURLE_URL_MALFORMAT:
    case CURLE_UNSUPPORTED_PROTOCOL:
      return "模型地址不可用";
    default:
      return std::string("HTTP 请求失败（") + curl_easy_strerror(code) + "）";
  }
}

// Sets every option of the call; the first refusal, or CURLE_OK.
CURLcode configure(CURL* easy, const ModelConfig& config, const std::string& url, curl_slist* headers,
                   const std::string& body, const std::string& user_agent, Received& received) {
  CURLcode result = CURLE_OK;
  auto set = [&](CURLoption option, auto value) {
    if (result == CURLE_OK) result = curl_easy_setopt(easy, option, value);
  };
  set(CURLOPT_URL, url.c_str());
  set(CURLOPT_PROTOCOLS_STR, "http,https");
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  set(CURLOPT_FOLLOWLOCATION, 0L);
  // Worker threads: no signals, so name look-ups run on the library's own
  // resolver thread and still honour the time-outs.
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_FORBID_REUSE, 1L);
  set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(config.bounds.connect.count()));
  set(CURLOPT_TIMEOUT_MS, static_cast<long>(config.bounds.answer.count()));
  set(CURLOPT_SSL_VERIFYPEER, 1L);
  set(CURLOPT_SSL_VERIFYHOST, 2L);
  // The library's built-in authorities are the system's; like OpenSSL's own
  // default paths, SSL_CERT_FILE and SSL_CERT_DIR replace the file and the
  // folder for a setup (or a test) that trusts others, for the endpoint and
  // for a proxy spoken to over https alike.
  if (const char* file = std::getenv("SSL_CERT_FILE"); file != nullptr && *file != '\0') {
    set(CURLOPT_CAINFO, file);
    set(CURLOPT_PROXY_CAINFO, file);
  }
  if (const char* dir = std::getenv("SSL_CERT_DIR"); dir != nullptr && *dir != '\0') {
    set(CURLOPT_CAPATH, dir);
    set(CURLOPT_PROXY_CAPATH, dir);
  }
  // A Content-Length the endpoint announces past the limit ends the
  // call before any of the body is read.
  set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxModelAnswerBytes));
  set(CURLOPT_USERAGENT, user_agent.c_str());
  set(CURLOPT_HTTPHEADER, headers);
  set(CURLOPT_POST, 1L);
  set(CURLOPT_POSTFIELDS, body.data());
  set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  set(CURLOPT_WRITEFUNCTION, &on_body);
  set(CURLOPT_WRITEDATA, static_cast<void*>(&received));
  return result;
}

// After a time-out: whether it was the whole-answer bound rather than the
// connect bound. Past connecting (the request under way) only the whole
// bound is left; while connecting, the connect bound comes first unless it
// is no shorter. The library's own record decides, not a second clock that
// may run a hair apart from the library's.
bool whole_answer_expired(CURL* easy, const ModelBounds& bounds) {
  if (bounds.connect >= bounds.answer) return true;
  curl_off_t pretransfer_us = 0;
  return curl_easy_getinfo(easy, CURLINFO_PRETRANSFER_TIME_T, &pretransfer_us) == CURLE_OK && pretransfer_us > 0;
}

// Adds a header line to the list; false when there is no memory for it.
bool append_header(HeaderList& list, const std::string& line) {
  curl_slist* grown = curl_slist_append(list.get(), line.c_str());
  if (grown == nullptr) return false;
  if (!list) list.reset(grown);  // the first node heads the list; later ones join its end
  return true;
}

}  // namespace

common::Result<void> init_model_http() {
  static std::once_flag once;
  static CURLcode result = CURLE_FAILED_INIT;
  std::call_once(once, [] { result = curl_global_init(CURL_GLOBAL_DEFAULT); });
  if (result != CURLE_OK) return common::failure(std::string("curl_global_init: ") + curl_easy_strerror(result));
  return {};
}

EndpointReply post_json(const ModelConfig& config, std::string_view path, const std::string& body) {
  EndpointReply out;
  auto base = split_base_url(config.base_url);
  if (!base) {
    out.detail = "模型地址不可用";
    return out;
  }
  try {
    Easy easy(init_model_http().ok() ? curl_easy_init() : nullptr);
    if (!easy) {
      out.detail = "HTTP 请求失败（无法初始化 HTTP 客户端）";
      return out;
    }
    HeaderList headers;
    // "Expect:" turns off the library's 100-continue wait for larger bodies.
    bool listed = append_header(headers, "Accept: application/json") &&
                  append_header(headers, "Content-Type: application/json") && append_header(headers, "Expect:");
    if (listed && !config.api_key.empty()) listed = append_header(headers, "Authorization: Bearer " + config.api_key);
    if (!listed) {
      out.detail = std::string("HTTP 请求失败（") + curl_easy_strerror(CURLE_OUT_OF_MEMORY) + "）";
      return out;
    }
    const std::string url = base->scheme_host_port + base->path + std::string(path);
    const std::string user_agent = "ruvo-gui/" + std::string(protocol::kVersion);
    Received received;
    if (CURLcode refused = configure(easy.get(), config, url, headers.get(), body, user_agent, received);
        refused != CURLE_OK) {
      out.detail = failure_detail(refused, 0, config);
      return out;
    }

    const CURLcode code = curl_easy_perform(easy.get());

    if (received.too_large || code == CURLE_FILESIZE_EXCEEDED) {
      out.outcome = EndpointOutcome::kTooLarge;
    } else if (code == CURLE_OK) {
      long status = 0;
      curl_easy_getinfo(easy.get(), CURLINFO_RESPONSE_CODE, &status);
      out.outcome = EndpointOutcome::kAnswered;
      out.status = static_cast<int>(status);
      out.body = std::move(received.body);
    } else if (code == CURLE_OPERATION_TIMEDOUT && whole_answer_expired(easy.get(), config.bounds)) {
      out.outcome = EndpointOutcome::kTimedOut;
    } else if (received.failed) {
      out.detail = std::string("HTTP 请求失败（") + curl_easy_strerror(CURLE_OUT_OF_MEMORY) + "）";
    } else {
      long proxy_status = 0;
      curl_easy_getinfo(easy.get(), CURLINFO_HTTP_CONNECTCODE, &proxy_status);
      out.detail = failure_detail(code, proxy_status, config);
    }
  } catch (const std::exception& e) {
    out = EndpointReply{};
    out.detail = std::string("HTTP 请求失败（") + e.what() + "）";
  }
  return out;
}

}  // namespace ruvo::desktop::model
