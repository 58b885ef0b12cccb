#include "cli/help.hpp"

namespace ruvo::cli {

const std::string_view HELP_TEXT = "ruvo " RUVO_VERSION R"HELP( —— Ruvo 的命令行客户端（能力来自 Ruvo 运行时的本地服务）

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

Outcome print_help(const Words& /*words*/) { return print_text(std::string(HELP_TEXT)); }

Outcome print_version(const Words& /*words*/) { return print_text(std::string(kVersionLine)); }

}  // namespace ruvo::cli
