#include "model/model_http.hpp"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>

// Debian's cpp-httplib is a compiled library built with OpenSSL; its
// pkg-config flags carry this macro, and without it the class layouts would
// not match the library's and https would be missing.
#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#error "cpp-httplib must be used with CPPHTTPLIB_OPENSSL_SUPPORT (https to the model endpoint)"
#endif

namespace ruvo::desktop {

namespace {

using Clock = std::chrono::steady_clock;

// Stops the client's exchange once the deadline has passed. The library
// only reaches a request that is in flight, and one that is still
// connecting holds the client's lock until its own connect time-out, so the
// stop is repeated until the exchange has ended.
class Watchdog {
 public:
  Watchdog(httplib::Client& client, Clock::time_point deadline, std::atomic<bool>& fired)
      : thread_([this, &client, deadline, &fired] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (wake_.wait_until(lock, deadline, [this] { return done_; })) return;
          fired = true;
          while (!done_) {
            lock.unlock();
            client.stop();
            lock.lock();
            wake_.wait_for(lock, std::chrono::milliseconds(20), [this] { return done_; });
          }
        }) {}
  ~Watchdog() { finish(); }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

  // Tells the watchdog that the exchange is over and waits for it to end.
  void finish() {
    {
      std::lock_guard<std::mutex> guard(mutex_);
      done_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  bool done_ = false;
  std::thread thread_;  // last: starts once the members above exist
};

std::string seconds_text(std::chrono::milliseconds bound) {
  auto ms = bound.count();
  if (ms % 1000 == 0) return std::to_string(ms / 1000);
  return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100);
}

std::string failure_detail(httplib::Error error, const ModelConfig& config) {
  switch (error) {
    case httplib::Error::Connection:
      return "连接失败（地址不对、服务没有运行，或连接被拒绝）";
    case httplib::Error::ConnectionTimeout:
      return "连接超时（" + seconds_text(config.bounds.connect) + " 秒）";
    case httplib::Error::SSLConnection:
      return "TLS 握手失败";
    case httplib::Error::SSLServerVerification:
      return "服务器证书校验失败";
    case httplib::Error::SSLLoadingCerts:
      return "读不到系统的 CA 证书";
    case httplib::Error::Read:
      return "连接被对方断开，没有收到完整的回复";
    case httplib::Error::Write:
      return "发送请求时连接断开";
    default:
      return "HTTP 请求失败（" + httplib::to_string(error) + "）";
  }
}

}  // namespace

Exchange post_json(const ModelConfig& config, std::string_view path, const std::string& body) {
  Exchange out;
  auto base = split_base_url(config.base_url);
  if (!base) {
    out.detail = "模型地址不可用";
    return out;
  }
  try {
    httplib::Client client(base->scheme_host_port);
    if (!client.is_valid()) {
      out.detail = "模型地址不可用";
      return out;
    }
    client.set_connection_timeout(config.bounds.connect);
    // Per read and write only a backstop: the watchdog ends the exchange at
    // the deadline, before these could.
    client.set_read_timeout(config.bounds.answer + std::chrono::seconds(5));
    client.set_write_timeout(config.bounds.answer + std::chrono::seconds(5));
    client.set_keep_alive(false);
    client.set_follow_location(false);
    client.enable_server_certificate_verification(true);

    httplib::Request request;
    request.method = "POST";
    request.path = base->path + std::string(path);
    request.set_header("Accept", "application/json");
    request.set_header("Content-Type", "application/json");
    if (!config.api_key.empty()) request.set_header("Authorization", "Bearer " + config.api_key);
    request.body = body;

    const auto deadline = Clock::now() + config.bounds.answer;
    std::atomic<bool> late{false};
    bool too_large = false;
    std::string received;
    // Every piece of the body passes here, so a slow trickle is cut at the
    // deadline and an endless one at the size limit.
    request.content_receiver = [&](const char* data, std::size_t size, std::uint64_t, std::uint64_t) {
      if (Clock::now() >= deadline) {
        late = true;
        return false;
      }
      if (received.size() + size > kMaxModelAnswerBytes) {
        too_large = true;
        return false;
      }
      received.append(data, size);
      return true;
    };

    httplib::Response response;
    httplib::Error error = httplib::Error::Success;
    bool sent = false;
    {
      Watchdog watchdog(client, deadline, late);
      sent = client.send(request, response, error);
    }
    if (too_large) {
      out.outcome = ExchangeOutcome::kTooLarge;
    } else if (sent && response.status > 0) {
      out.outcome = ExchangeOutcome::kAnswered;
      out.status = response.status;
      out.body = std::move(received);
    } else if (late || Clock::now() >= deadline) {
      // The library's per-read time-out may notice the deadline before the
      // watchdog does; either way the answer did not come in time.
      out.outcome = ExchangeOutcome::kTimedOut;
    } else {
      out.detail = failure_detail(error, config);
    }
  } catch (const std::exception& e) {
    out.outcome = ExchangeOutcome::kUnreachable;
    out.detail = std::string("HTTP 请求失败（") + e.what() + "）";
  }
  return out;
}

}  // namespace ruvo::desktop
