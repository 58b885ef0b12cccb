// The texts ruvo-gui.exe shows about itself.
#include "commands/usage.hpp"

#include "platform/platform.hpp"
#include "protocol/version.hpp"

namespace ruvo::desktop::commands {

const std::string_view kGuiHelpText =
    "ruvo-gui.exe：Ruvo 的本地词库服务和它的浏览器界面\n"
    "\n"
    "用法：\n"
    "  ruvo-gui.exe             在浏览器里打开 Ruvo 词库（同 --open）\n"
    "  ruvo-gui.exe --open      确保本地服务在运行（没有就在后台启动），在浏览器里打开界面，\n"
    "                           并把登录地址打印到标准输出；浏览器取自 $BROWSER，否则用 xdg-open\n"
    "  ruvo-gui.exe --url       只打印一个新的登录地址（给脚本用，或在没有桌面的机器上）\n"
    "  ruvo-gui.exe --service   在后台运行本地服务（ruvo 找不到服务时会自己启动它）\n"
    "  ruvo-gui.exe --stop      停止这个应用数据目录的服务（等它停下，最多 30 秒）\n"
    "  ruvo-gui.exe --help      显示这段说明\n"
    "  ruvo-gui.exe --version   显示版本\n"
    "  ruvo-gui.exe --export 文件|-                      把词库导出为 JSON Lines（- 为标准输出）\n"
    "  ruvo-gui.exe --import 文件|- [--format jsonl|csv|tsv] 导入词条（- 为标准输入），全部成功或什么都不改\n"
    "  ruvo-gui.exe --add-dictionary 路径…  添加词典（dictd、StarDict、MDict .mdx、CC-CEDICT 文件，\n"
    "                           或一个文件夹里的全部词典），每本全部成功或什么都不加；每本一行：名称和条数\n"
    "  ruvo-gui.exe --dictionaries          按顺序列出已添加的词典，再列出本机找到、还没添加的\n"
    "  ruvo-gui.exe --remove-dictionary 编号 删除一本词典（编号见 --dictionaries）\n"
    "导出只写普通文件（先写在旁边，写完再改名），不会写进管道、设备或文件夹；\n"
    "导入只读普通文件或标准输入，最多 64 MiB。\n"
    "\n"
    "服务只监听 127.0.0.1 上的一个空闲端口，把端口和访问 token 写进\n"
    "<应用数据目录>/com.corvanta.desktop/explain.json（仅本人可读）。\n"
    "词库 ruvo-terms.sqlite3 和日志 ruvo-gui.log 也在这个目录里。\n"
    "应用数据目录：APPDATA；未设置时为 $XDG_CONFIG_HOME，再不然为 $HOME/.config。\n"
    "登录地址只能用一次，10 分钟内有效：打开后浏览器得到一个会话 cookie，页面得到一个会话密钥\n"
    "（存在这个标签页的 sessionStorage 里），地址栏里不再有它们；新标签页或服务重启后要重新打开。\n"
    "页面要 cookie，接口要会话密钥（X-Ruvo-Session）或 explain.json 里的 token，只有 cookie 不行。\n"
    "同一目录只运行一个实例；收到 SIGTERM 或 SIGINT 时停止并删除 explain.json。\n"
    "运行中 explain.json 或锁文件 ruvo-gui.lock 被删掉或换掉时，服务会自己补回（记一行日志）。\n"
    "词库文件损坏时尽量照常查词、拒绝保存，ruvo health 会说明。\n"
    "词典与你的词条、内置词汇表并列，从不覆盖它们；添加后原文件删掉或改动都不影响词库。\n"
    "本机的词典在 /usr/share/dictd、/usr/share/stardict/dic、~/.stardict/dic 和\n"
    "$XDG_DATA_HOME/stardict/dic 里找；新建词库时服务在后台把它们加进来，以后新装的只列为“找到”。\n"
    "环境变量 RUVO_DICTIONARY_DIRS（用 : 分隔的文件夹；设为空即一个也不找）代替这些地方。\n"
    "退出码：0 正常停止；1 启动失败（原因见日志）；2 参数不对；\n"
    "3 已有实例在运行（日志里记一行，带锁文件路径）。\n"
    "\n"
    "模型（词库里没有、且调用方允许时才会调用）：OpenAI 兼容的 chat completions 接口。\n"
    "读取同一目录下的 model.json（仅本人可读；改动后一两秒内生效，不用重启），例如\n"
    "  {\"baseUrl\": \"http://127.0.0.1:11434/v1\", \"model\": \"qwen2.5:7b\", \"apiKey\": \"…\"}\n"
    "环境变量 RUVO_MODEL_BASE_URL、RUVO_MODEL、RUVO_MODEL_API_KEY 逐项覆盖它；\n"
    "RUVO_MODEL_TIMEOUT_S 可把整次回答的时限（默认 80 秒）调短，供测试和调优。\n"
    "也可以在界面的状态页填写并“试一试”（PUT /v1/model 写入 model.json）。\n"
    "模型对单个词条的解释会存进词库，下次直接本地命中。\n";

std::string gui_version_line() { return "ruvo-gui " + std::string(protocol::kVersion) + "\n"; }

int show_help() {
  platform::write_stdout(kGuiHelpText);
  return 0;
}

int show_version() {
  platform::write_stdout(gui_version_line());
  return 0;
}

int refuse_words(const std::vector<std::string>& words) {
  std::string message = "ruvo-gui.exe：不认识的参数「";
  for (std::size_t i = 0; i < words.size(); ++i) message += (i ? " " : "") + words[i];
  message += "」\n";
  platform::write_stderr(message + std::string(kGuiUsageLine));
  return 2;
}

}  // namespace ruvo::desktop::commands
