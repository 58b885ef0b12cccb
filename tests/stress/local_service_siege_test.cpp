// The local service under siege: hundreds of connections that send nothing,
// clients that send their head one line a second, and clients that send an
// endless header line. Every ruvo call made meanwhile must succeed, the
// service must cut the sieging connections off itself, and its memory must
// not grow with them.
#include "platform/platform.hpp"
#include "support/local_service.hpp"
#include "support/process.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ruvo::stress {
namespace {

using platform::TcpStream;

constexpr int kIdleConnections = 300;
constexpr int kSlowHeadClients = 20;
constexpr int kEndlessHeadClients = 2;
constexpr int kLookups = 40;

// A field of /proc/<pid>/status in KiB ("VmRSS", "VmHWM"), or -1.
long status_kib(int pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  return -1;
}

// Connections that come and go for as long as the siege lasts.
class Siege {
 public:
  explicit Siege(std::uint16_t port) : port_(port) {}
  ~Siege() { stop(); }

  void start() {
    threads_.emplace_back([this] { hold_idle(); });
    for (int i = 0; i < kSlowHeadClients; ++i) threads_.emplace_back([this] { send_slow_heads(); });
    for (int i = 0; i < kEndlessHeadClients; ++i) threads_.emplace_back([this] { send_endless_heads(); });
  }

  void stop() {
    stopping_ = true;
    for (auto& t : threads_) {
      if (t.joinable()) t.join();
    }
    threads_.clear();
  }

  int idle_open() const { return idle_open_; }
  int cut_off() const { return cut_off_; }  // sieging connections the service ended

 private:
  std::optional<TcpStream> connect() {
    auto stream = TcpStream::connect_loopback(port_, 3000);
    if (!stream.ok()) return std::nullopt;
    return std::move(stream.value());
  }

  // Keeps kIdleConnections open, replacing those the service closes.
  void hold_idle() {
    std::vector<TcpStream> held;
    while (!stopping_) {
      while (static_cast<int>(held.size()) < kIdleConnections && !stopping_) {
        auto stream = connect();
        if (!stream) break;
        stream->set_read_timeout(1);
        held.push_back(std::move(*stream));
      }
      idle_open_ = static_cast<int>(held.size());
      for (std::size_t i = 0; i < held.size();) {
        char byte = 0;
        auto got = held[i].read_some(&byte, 1);
        if (got.ok()) {  // closed (or, wrongly, answered): replace it
          ++cut_off_;
          held.erase(held.begin() + static_cast<std::ptrdiff_t>(i));
        } else {
          ++i;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  }

  void send_slow_heads() {
    while (!stopping_) {
      auto stream = connect();
      if (!stream) continue;
      if (!stream->write_all("GET /v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\n").ok()) continue;
      for (int line = 0; !stopping_; ++line) {
        if (!stream->write_all("X-Slow-" + std::to_string(line) + ": a line a second\r\n").ok()) {
          ++cut_off_;
          break;
        }
        for (int i = 0; i < 10 && !stopping_; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    }
  }

  void send_endless_heads() {
    const std::string chunk(64 * 1024, 'h');
    while (!stopping_) {
      auto stream = connect();
      if (!stream) continue;
      stream->set_timeouts(1000, 1000);
      if (!stream->write_all("GET /v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Endless: ").ok()) continue;
      // 50 MiB, or until the service refuses to take more.
      for (int sent = 0; sent < 800 && !stopping_; ++sent) {
        if (!stream->write_all(chunk).ok()) {
          ++cut_off_;
          break;
        }
      }
    }
  }

  std::uint16_t port_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> idle_open_{0};
  std::atomic<int> cut_off_{0};
  std::vector<std::thread> threads_;
};

TEST(LocalServiceSiege, RuvoIsAnsweredWhileIdleSlowAndEndlessClientsBesiegeTheService) {
  test::RuvoWithService env;
  std::string why;
  if (!env.usable(&why)) GTEST_SKIP() << why;
  const test::RunResult health = env.ruvo({"health"});
  ASSERT_EQ(health.exit_code, 0) << health.err;
  const auto pids = env.service_pids();
  ASSERT_EQ(pids.size(), 1u);
  const int pid = pids.front();
  auto info = test::wait_for_discovery(env.appdata().path() + "/com.corvanta.desktop/explain.json", 5000);
  ASSERT_TRUE(info);
  const long quiet_rss = status_kib(pid, "VmRSS");

  Siege siege(info->port);
  siege.start();
  // Let the siege build up before the first call.
  for (int i = 0; i < 100 && siege.idle_open() < kIdleConnections; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_EQ(siege.idle_open(), kIdleConnections) << "the service did not take the idle connections";

  int failures = 0;
  const auto started = std::chrono::steady_clock::now();
  // At least until the head time-out has cut sieging connections off.
  for (int i = 0; i < kLookups || std::chrono::steady_clock::now() - started < std::chrono::seconds(12); ++i) {
    const test::RunResult lookup = env.ruvo({"lookup", "RAG"});
    if (lookup.exit_code != 0 || lookup.out.find("RAG") == std::string::npos) {
      ++failures;
      ADD_FAILURE() << "lookup " << i << " failed (" << lookup.exit_code << "): " << lookup.err;
    }
    if (failures > 3) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const long peak = status_kib(pid, "VmHWM");
  siege.stop();

  EXPECT_GT(siege.cut_off(), 0) << "the service never ended a sieging connection";
  ASSERT_GT(quiet_rss, 0);
  // Each sieging connection may hold its bounded head; none holds more, so
  // the growth stays far below what the endless heads sent (hundreds of MiB).
  // Under AddressSanitizer freed memory is held back in its quarantine (a
  // quarter of a GiB), so the service's size says nothing there; the
  // ordinary build checks it.
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(peak - quiet_rss, 48 * 1024) << "quiet " << quiet_rss << " KiB, peak under siege " << peak << " KiB";
#else
  (void)peak;
#endif

  const test::RunResult after = env.ruvo({"lookup", "RAG"});
  EXPECT_EQ(after.exit_code, 0) << after.err;
  EXPECT_TRUE(test::stop_logged_service(env.appdata().path() + "/com.corvanta.desktop", env.service_program()));
}

}  // namespace
}  // namespace ruvo::stress
