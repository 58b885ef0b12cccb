// The model client's one exchange against the scripted endpoint: what it
// sends, the proxies and authorities the environment names, and the limits
// that end it.
#include "model/model_http.hpp"

#include "platform/platform.hpp"
#include "protocol/version.hpp"
#include "support/fake_model.hpp"
#include "support/fake_proxy.hpp"
#include "support/temp_dir.hpp"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ruvo::desktop::model {
namespace {

using test::closed_port;
using test::FakeModel;
using test::FakeProxy;
using test::ScriptedReply;
using test::TempDir;

constexpr const char* kPath = "/chat/completions";
constexpr const char* kBody = R"({"model":"m","messages":[]})";
// A name that no name server knows: only the fake proxy does.
constexpr const char* kProxiedName = "models.internal";

// Sets environment variables for one scope and puts the old values back.
class ScopedEnv {
 public:
  ScopedEnv() = default;
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) apply(it->first, it->second);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

  // nullopt unsets the variable.
  void set(const std::string& name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name.c_str());
    saved_.emplace_back(name, old == nullptr ? std::nullopt : std::optional<std::string>(old));
    apply(name, value);
  }

 private:
  static void apply(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Every variable by which the library picks a proxy, unset for the scope.
void clear_proxies(ScopedEnv& env) {
  for (const char* name :
       {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"}) {
    env.set(name, std::nullopt);
  }
}

ModelConfig config_for(const std::string& base_url, std::string key = "",
                       std::chrono::milliseconds answer = kDefaultAnswerBound,
                       std::chrono::milliseconds connect = kDefaultConnectBound) {
  return ModelConfig{base_url, "m", std::move(key), true, {std::min(connect, answer), answer}};
}

// A port on 127.0.0.1 that takes connections (the system completes them)
// and never says a word: a TLS handshake there never ends.
class SilentPort {
 public:
  SilentPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && ::listen(fd_, 8) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
      port_ = ntohs(addr.sin_port);
    }
    EXPECT_NE(port_, 0) << "cannot listen on 127.0.0.1";
  }
  ~SilentPort() {
    if (fd_ >= 0) ::close(fd_);
  }
  SilentPort(const SilentPort&) = delete;
  SilentPort& operator=(const SilentPort&) = delete;
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

std::string with_port(const std::string& scheme, const std::string& host, int port) {
  return scheme + "://" + host + ":" + std::to_string(port) + "/v1";
}

const char* outcome_name(EndpointOutcome outcome) {
  switch (outcome) {
    case EndpointOutcome::kAnswered:
      return "answered";
    case EndpointOutcome::kUnreachable:
      return "unreachable";
    case EndpointOutcome::kTimedOut:
      return "timed out";
    case EndpointOutcome::kTooLarge:
      return "too large";
  }
  return "?";
}

TEST(PostJsonTest, SendsTheBodyWithItsHeadersAndReturnsTheAnswer) {
  ScopedEnv env;
  clear_proxies(env);
  FakeModel fake({{201, R"({"id":"x"})"}});
  EndpointReply exchange = post_json(config_for(fake.base_url(), "sk-headers-1"), kPath, kBody);
  EXPECT_EQ(outcome_name(exchange.outcome), std::string("answered")) << exchange.detail;
  EXPECT_EQ(exchange.status, 201);
  EXPECT_EQ(exchange.body, R"({"id":"x"})");
  auto requests = fake.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "POST");
  EXPECT_EQ(requests[0].path, "/v1/chat/completions");
  EXPECT_EQ(requests[0].body, kBody);
  EXPECT_EQ(requests[0].authorization, "Bearer sk-headers-1");
  EXPECT_EQ(requests[0].user_agent, "ruvo-gui/" + std::string(protocol::kVersion));
  EXPECT_EQ(requests[0].host, "127.0.0.1:" + std::to_string(fake.port()));

  // Without a key there is no Authorization header at all.
  EXPECT_EQ(post_json(config_for(fake.base_url()), kPath, kBody).outcome, EndpointOutcome::kAnswered);
  requests = fake.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].authorization, "");
}

TEST(PostJsonTest, ProxiesComeFromTheEnvironmentByTheLibrarysRules) {
  TempDir certs;
  ASSERT_TRUE(test::write_self_signed_certificate(certs.file("cert.pem"), certs.file("key.pem"), kProxiedName));
  const std::string answer = R"({"via":"endpoint"})";
  FakeModel plain({{200, answer}});
  FakeModel tls({{200, answer}}, certs.file("cert.pem"), certs.file("key.pem"));
  FakeProxy proxy({kProxiedName});
  const std::string proxy_url = proxy.url();
  const std::string dead_proxy = "http://127.0.0.1:" + std::to_string(closed_port());

  struct Case {
    const char* label;
    std::map<std::string, std::string> env;
    bool https;
    std::string host;
    int status;           // 0: not answered
    std::string detail;   // when not answered
    const char* proxied;  // the method the proxy saw, nullptr: the proxy saw nothing
    bool forwarded;       // the proxy passed it on
    bool reached;         // the endpoint got the request
  };
  const Case cases[] = {
      {"http_proxy carries a name only the proxy knows",
       {{"http_proxy", proxy_url}},
       false,
       kProxiedName,
       200,
       "",
       "POST",
       true,
       true},
      {"https_proxy tunnels https, and the certificate is checked for the name",
       {{"https_proxy", proxy_url}, {"SSL_CERT_FILE", certs.file("cert.pem")}},
       true,
       kProxiedName,
       200,
       "",
       "CONNECT",
       true,
       true},
      {"HTTPS_PROXY as well",
       {{"HTTPS_PROXY", proxy_url}, {"SSL_CERT_FILE", certs.file("cert.pem")}},
       true,
       kProxiedName,
       200,
       "",
       "CONNECT",
       true,
       true},
      {"all_proxy for any scheme", {{"all_proxy", proxy_url}}, false, kProxiedName, 200, "", "POST", true, true},
      {"no_proxy sends a listed host direct",
       {{"http_proxy", proxy_url}, {"no_proxy", "localhost,127.0.0.1"}},
       false,
       "127.0.0.1",
       200,
       "",
       nullptr,
       false,
       true},
      {"NO_PROXY as well",
       {{"http_proxy", proxy_url}, {"NO_PROXY", "127.0.0.1"}},
       false,
       "127.0.0.1",
       200,
       "",
       nullptr,
       false,
       true},
      {"no_proxy * sends everything direct",
       {{"https_proxy", proxy_url}, {"no_proxy", "*"}, {"SSL_CERT_FILE", certs.file("cert.pem")}},
       true,
       "127.0.0.1",
       200,
       "",
       nullptr,
       false,
       true},
      // Loopback is not exempt by itself: this proxy refuses the host.
      {"without no_proxy even loopback goes to the proxy",
       {{"http_proxy", proxy_url}},
       false,
       "127.0.0.1",
       502,
       "",
       "POST",
       false,
       false},
      {"https_proxy is not used for http",
       {{"https_proxy", proxy_url}},
       false,
       "127.0.0.1",
       200,
       "",
       nullptr,
       false,
       true},
      {"a proxy that refuses the tunnel is named",
       {{"https_proxy", proxy_url}},
       true,
       "unknown.internal",
       0,
       "代理服务器拒绝了通往模型服务的连接（HTTP 502）",
       "CONNECT",
       false,
       false},
      {"a proxy that is not there",
       {{"http_proxy", dead_proxy}},
       false,
       kProxiedName,
       0,
       "连接失败（地址不对、服务没有运行，或连接被拒绝）",
       nullptr,
       false,
       false},
  };
  for (const auto& c : cases) {
    ScopedEnv env;
    clear_proxies(env);
    for (const auto& [name, value] : c.env) env.set(name, value);
    FakeModel& fake = c.https ? tls : plain;
    const std::size_t before = fake.requests().size();
    const std::size_t proxied_before = proxy.requests().size();
    const std::string base = with_port(c.https ? "https" : "http", c.host, fake.port());

    EndpointReply exchange = post_json(config_for(base), kPath, kBody);
    if (c.status != 0) {
      EXPECT_EQ(outcome_name(exchange.outcome), std::string("answered")) << c.label << ": " << exchange.detail;
      EXPECT_EQ(exchange.status, c.status) << c.label;
      if (c.status == 200) {
        EXPECT_EQ(exchange.body, answer) << c.label;
      }
    } else {
      EXPECT_EQ(outcome_name(exchange.outcome), std::string("unreachable")) << c.label;
      EXPECT_EQ(exchange.detail, c.detail) << c.label;
    }

    auto seen = proxy.requests();
    if (c.proxied == nullptr) {
      EXPECT_EQ(seen.size(), proxied_before) << c.label;
    } else {
      ASSERT_EQ(seen.size(), proxied_before + 1) << c.label;
      const auto& got = seen.back();
      EXPECT_EQ(got.method, c.proxied) << c.label;
      EXPECT_EQ(got.host, c.host) << c.label;
      EXPECT_EQ(got.port, fake.port()) << c.label;
      EXPECT_EQ(got.target, got.method == "CONNECT" ? c.host + ":" + std::to_string(fake.port()) : base + kPath)
          << c.label;
      EXPECT_EQ(got.forwarded, c.forwarded) << c.label;
    }
    auto requests = fake.requests();
    ASSERT_EQ(requests.size(), before + (c.reached ? 1 : 0)) << c.label;
    if (c.reached) {
      // The endpoint sees the name the client asked for, whichever way it came.
      EXPECT_EQ(requests.back().host, c.host + ":" + std::to_string(fake.port())) << c.label;
      EXPECT_EQ(requests.back().path, "/v1/chat/completions") << c.label;
      EXPECT_EQ(requests.back().body, kBody) << c.label;
    }
  }
}

TEST(PostJsonTest, HttpsTrustsTheSystemsAuthoritiesOrThoseTheEnvironmentNames) {
  TempDir certs;
  ASSERT_TRUE(test::write_self_signed_certificate(certs.file("cert.pem"), certs.file("key.pem")));
  TempDir folder;
  ASSERT_TRUE(test::add_to_certificate_folder(certs.file("cert.pem"), folder.path()));
  FakeModel tls({{200, "{}"}}, certs.file("cert.pem"), certs.file("key.pem"));
  struct Case {
    const char* label;
    std::optional<std::string> cert_file;
    std::optional<std::string> cert_dir;
    bool answered;
    const char* detail;
  };
  const Case cases[] = {
      {"the system's authorities alone", std::nullopt, std::nullopt, false, "服务器证书校验失败"},
      {"SSL_CERT_FILE names the certificate", certs.file("cert.pem"), std::nullopt, true, ""},
      {"SSL_CERT_DIR names a folder that holds it", std::nullopt, folder.path(), true, ""},
      {"SSL_CERT_DIR names a folder without it", std::nullopt, certs.path(), false, "服务器证书校验失败"},
      {"SSL_CERT_FILE that cannot be read", certs.file("missing.pem"), std::nullopt, false, "读不到系统的 CA 证书"},
  };
  for (const auto& c : cases) {
    ScopedEnv env;
    clear_proxies(env);
    env.set("SSL_CERT_FILE", c.cert_file);
    env.set("SSL_CERT_DIR", c.cert_dir);
    EndpointReply exchange = post_json(config_for(tls.base_url()), kPath, kBody);
    EXPECT_EQ(outcome_name(exchange.outcome), std::string(c.answered ? "answered" : "unreachable")) << c.label;
    EXPECT_EQ(exchange.detail, c.detail) << c.label;
  }
  // Only the exchanges that trusted the certificate got as far as a request.
  EXPECT_EQ(tls.requests().size(), 2u);
}

TEST(PostJsonTest, LimitsAndFailuresEndTheCall) {
  ScopedEnv env;
  clear_proxies(env);
  struct Case {
    const char* label;
    std::vector<ScriptedReply> replies;  // empty: nothing listens
    bool https_to_plain;                 // https spoken to a plain-HTTP server
    std::chrono::milliseconds answer;
    EndpointOutcome outcome;
    const char* detail;
  };
  ScriptedReply endless;
  endless.endless = true;
  const Case cases[] = {
      {"a body announced past the limit",
       {{200, std::string(kMaxModelAnswerBytes + 1, ' ')}},
       false,
       kDefaultAnswerBound,
       EndpointOutcome::kTooLarge,
       ""},
      {"an endless body without a length", {endless}, false, kDefaultAnswerBound, EndpointOutcome::kTooLarge, ""},
      {"a body just at the limit",
       {{200, std::string(kMaxModelAnswerBytes, ' ')}},
       false,
       kDefaultAnswerBound,
       EndpointOutcome::kAnswered,
       ""},
      {"a model that never answers",
       {{200, "", true}},
       false,
       std::chrono::milliseconds(1000),
       EndpointOutcome::kTimedOut,
       ""},
      {"an answer that trickles",
       {{200, "", false, true}},
       false,
       std::chrono::milliseconds(1000),
       EndpointOutcome::kTimedOut,
       ""},
      {"nothing listening",
       {},
       false,
       kDefaultAnswerBound,
       EndpointOutcome::kUnreachable,
       "连接失败（地址不对、服务没有运行，或连接被拒绝）"},
      {"https to a plain server",
       {{200, "{}"}},
       true,
       kDefaultAnswerBound,
       EndpointOutcome::kUnreachable,
       "TLS 握手失败"},
  };
  // Connecting includes the TLS handshake, so a server that never answers
  // one runs out the connect bound, well before the whole one.
  {
    SilentPort silent;
    const std::string base = with_port("https", "127.0.0.1", silent.port());
    EndpointReply exchange =
        post_json(config_for(base, "", kDefaultAnswerBound, std::chrono::milliseconds(500)), kPath, kBody);
    EXPECT_EQ(outcome_name(exchange.outcome), std::string("unreachable"));
    EXPECT_EQ(exchange.detail, "连接超时（0.5 秒）");
  }
  for (const auto& c : cases) {
    std::unique_ptr<FakeModel> fake;
    std::string base = with_port("http", "127.0.0.1", closed_port());
    if (!c.replies.empty()) {
      fake = std::make_unique<FakeModel>(c.replies);
      base = with_port(c.https_to_plain ? "https" : "http", "127.0.0.1", fake->port());
    }
    EndpointReply exchange = post_json(config_for(base, "", c.answer), kPath, kBody);
    EXPECT_EQ(outcome_name(exchange.outcome), std::string(outcome_name(c.outcome)))
        << c.label << ": " << exchange.detail;
    EXPECT_EQ(exchange.detail, c.detail) << c.label;
    if (c.outcome == EndpointOutcome::kAnswered) {
      EXPECT_EQ(exchange.body.size(), kMaxModelAnswerBytes) << c.label;
    }
  }
}

TEST(PostJsonTest, RedirectsAreNotFollowed) {
  ScopedEnv env;
  clear_proxies(env);
  FakeModel target({{200, "{}"}});
  ScriptedReply moved{307, "{}"};
  moved.location = target.base_url() + kPath;
  FakeModel fake({moved});
  EndpointReply exchange = post_json(config_for(fake.base_url()), kPath, kBody);
  EXPECT_EQ(outcome_name(exchange.outcome), std::string("answered")) << exchange.detail;
  EXPECT_EQ(exchange.status, 307);
  EXPECT_TRUE(target.requests().empty());
}

}  // namespace
}  // namespace ruvo::desktop::model
