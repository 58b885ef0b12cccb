#include "http/browser.hpp"

#include "http/sessions.hpp"
#include "ui/assets.hpp"

#include <string>

namespace ruvo::desktop::http {

namespace {

constexpr std::string_view kSignedOutPage =
    "<!doctype html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>Ruvo：请先登录</title></head>"
    "<body><h1>请先登录</h1><p>在终端运行 <code>ruvo-gui.exe</code>，它会在浏览器里打开 Ruvo；"
    "或运行 <code>ruvo-gui.exe --url</code>，打开它给出的地址。</p></body></html>\n";
constexpr std::string_view kSignInRefusedPage =
    "<!doctype html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>Ruvo：登录地址已失效</title></head>"
    "<body><h1>这个登录地址已经用过或已过期</h1><p>每个登录地址只能用一次。在终端运行 <code>ruvo-gui.exe</code>"
    "（或 <code>ruvo-gui.exe --url</code>）取一个新的。</p></body></html>\n";

}  // namespace

Reply sign_in(const Call& call) {
  auto secret = call.query.find(kSignInSecretParameter);
  auto session = secret == call.query.end() ? std::nullopt : call.browser->sessions.redeem(secret->second);
  if (!session) return page_reply(401, kSignInRefusedPage);
  Reply reply = page_reply(303, "");
  // The key goes in the fragment, which the browser keeps to itself: it is
  // never sent in a request, logged or passed on as a referrer.
  reply.headers = {{"Location", "/#" + std::string(kSessionFragment) + "=" + session->key},
                   {"Set-Cookie", session_cookie(session_cookie_name(call.browser->port), session->cookie)}};
  return reply;
}

Reply sign_in_link(const Call& call) {
  auto secret = call.browser->sessions.issue_secret();
  if (!secret) return error_reply(500, "internal", "系统没有给出随机数，生成不了登录地址");
  Reply reply;
  reply.body["ok"] = true;
  reply.body["url"] = "http://127.0.0.1:" + std::to_string(call.browser->port) + std::string(kSignInPath) + "?" +
                      std::string(kSignInSecretParameter) + "=" + *secret;
  return reply;
}

Reply page(const Call& call) {
  const ui::Asset* asset = ui::find_asset(call.path);
  if (asset == nullptr) return error_reply(404, "not_found", "没有这个接口：" + std::string(call.path));
  Reply reply = page_reply(200, asset->bytes);
  reply.content_type = std::string(asset->content_type);
  return reply;
}

Reply signed_out_page() { return page_reply(401, kSignedOutPage); }

const std::vector<std::pair<std::string_view, std::string_view>>& browser_headers() {
  static const std::vector<std::pair<std::string_view, std::string_view>> headers = {
      {"Content-Security-Policy",
       "default-src 'self'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self'; "
       "font-src 'self'; object-src 'none'; base-uri 'none'; form-action 'self'; frame-ancestors 'none'"},
      {"X-Content-Type-Options", "nosniff"},
      {"Referrer-Policy", "no-referrer"},
      {"X-Frame-Options", "DENY"},
      {"Cache-Control", "no-store"},
  };
  return headers;
}

}  // namespace ruvo::desktop::http
