#include "bin/entry.hpp"

#include "bin/output.hpp"
#include "cli/commands.hpp"
#include "mcp/server.hpp"
#include "platform/platform.hpp"
#include "service/client.hpp"
#include "service/launcher.hpp"

#include <string>

namespace ruvo::bin {

const std::string_view HELP_TEXT = R"HELP(ruvo 0.1.8 —— Ruvo 的命令行客户端（能力来自 Ruvo 运行时的本地服务）

用法：
  ruvo health                       看服务状态（版本/协议/词条数）
  ruvo lookup <词> [--json]          只查本地词库（命中即 0 token）
  ruvo explain <文字|-> [选项]        让 Ruvo 解释（词/句/段落；- 表示从 stdin 读）
        --mode auto|term|passage      默认 auto
        --lang zh|en                  默认 zh
        --no-cloud                    只查词库，不调模型
        --json                        输出原始 JSON
  ruvo save --term <词> [--fields '<json>'] [--lang zh]
  ruvo service                      前台跑无界面服务（一般不用手敲）
  ruvo mcp                          以 MCP 服务器（stdio）运行，供 agent 调用
  ruvo version

示例：
  ruvo explain "向量数据库"
  echo 一些文字 | ruvo explain - --lang en --json
  ruvo save --term RAG --fields '{"定义":"检索增强生成"}'

)HELP";

namespace {

int print_help(const std::vector<std::string>&) {
  platform::write_stdout(HELP_TEXT);
  return 0;
}

int print_version(const std::vector<std::string>&) {
  platform::write_stdout(kVersionLine);
  return 0;
}

int run_mcp(const std::vector<std::string>&) { return mcp::run_mcp_server(); }

using Command = int (*)(const std::vector<std::string>&);

struct CommandEntry {
  std::string_view word;
  Command run;
};

// First words are matched whole and case-sensitively.
constexpr CommandEntry kCommands[] = {
    {"-h", print_help},          {"--help", print_help},
    {"help", print_help},        {"-V", print_version},
    {"--version", print_version}, {"version", print_version},
    {"health", run_health},      {"lookup", cli::run_lookup},
    {"explain", cli::run_explain}, {"save", cli::run_save},
    {"service", service::run_service_command}, {"mcp", run_mcp},
};

}  // namespace

int run_ruvo(const std::vector<std::string>& words) {
  if (words.empty()) return print_help(words);
  const std::string& first = words.front();
  const std::vector<std::string> rest(words.begin() + 1, words.end());
  for (const auto& command : kCommands) {
    if (command.word == first) return command.run(rest);
  }
  platform::write_stderr("未知命令：" + first + "\n");
  platform::write_stdout(HELP_TEXT);
  return 2;
}

int run_health(const std::vector<std::string>&) {
  const auto info = service::ensure_service();
  if (!info) fail_and_exit("Ruvo 服务没起来（找不到可执行文件，或启动失败）");
  const auto reply = service::service_request(*info, "GET", "/v1/health", nullptr, service::kHealthTimeoutS);
  if (!reply.ok()) fail_and_exit(reply.error);
  print_pretty_json(*reply.value);
  return 0;
}

}  // namespace ruvo::bin
