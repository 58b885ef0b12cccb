#include "cli/wait_line.hpp"

#include "common/utf8.hpp"

#include <algorithm>

namespace ruvo::cli {
namespace {

using std::chrono::milliseconds;

// ASCII, so that every terminal and console font shows it one column wide.
constexpr std::string_view kBarFrames = "|/-\\";
constexpr milliseconds kBarFrameLength{100};

std::string_view label(client::Waiting what) {
  switch (what) {
    case client::Waiting::kService:
      return "正在连接 Ruvo 服务";
    case client::Waiting::kStartedService:
      return "正在启动 Ruvo 服务";
    case client::Waiting::kReply:
      break;
  }
  return "正在解释";
}

milliseconds steady_now() {
  return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
}

}  // namespace

std::string wait_line_text(client::Waiting what, milliseconds elapsed) {
  const auto ms = std::max<milliseconds::rep>(elapsed.count(), 0);
  std::string text(1, kBarFrames[static_cast<std::size_t>(ms / kBarFrameLength.count()) % kBarFrames.size()]);
  text += ' ';
  text += label(what);
  text += "，已等 ";
  text += std::to_string((ms + 500) / 1000);
  text += " 秒";
  return text;
}

std::size_t terminal_columns(std::string_view text) {
  std::size_t columns = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    const auto step = common::decode_utf8(text, pos);
    columns += step.scalar < 0x80 ? 1 : 2;
    pos += step.length;
  }
  return columns;
}

WaitLine::WaitLine(WaitDisplay display) : display_(std::move(display)), start_(now()) {}

WaitLine::~WaitLine() { erase(); }

milliseconds WaitLine::now() const { return display_.clock ? display_.clock() : steady_now(); }

client::OnWait WaitLine::listener() {
  if (!display_.show) return {};
  return [this](client::Waiting what) { update(what); };
}

void WaitLine::update(client::Waiting what) {
  if (!display_.show) return;
  const milliseconds elapsed = now() - start_;
  if (elapsed < kWaitShownAfter) return;
  std::string text = wait_line_text(what, elapsed);
  if (text == drawn_) return;
  const std::size_t columns = terminal_columns(text);
  std::string bytes = "\r" + text;
  if (columns < drawn_columns_) bytes.append(drawn_columns_ - columns, ' ');
  drawn_columns_ = std::max(drawn_columns_, columns);
  drawn_ = std::move(text);
  display_.show(bytes);
}

void WaitLine::erase() {
  if (drawn_.empty()) return;
  std::string bytes(drawn_columns_ + 2, ' ');
  bytes.front() = '\r';
  bytes.back() = '\r';
  display_.show(bytes);
  drawn_.clear();
  drawn_columns_ = 0;
}

}  // namespace ruvo::cli
