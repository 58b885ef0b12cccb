// What ruvo-gui.exe says about itself: its help text, its version line, and
// the usage line for words it does not know.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop::commands {

extern const std::string_view kGuiHelpText;
// "ruvo-gui <protocol::kVersion>" and a line feed.
std::string gui_version_line();
inline constexpr std::string_view kGuiUsageLine =
    "用法：ruvo-gui.exe [--open] | --url | --service | --stop | --export 文件|- | "
    "--import 文件|- [--format jsonl|csv|tsv] | --add-dictionary 路径… | --dictionaries | "
    "--remove-dictionary 编号 | --help | --version\n";

// --help / -h and --version / -V: the text on standard output; 0.
int show_help();
int show_version();

// Words that name nothing: "ruvo-gui.exe：不认识的参数「<the words>」" and the
// usage line on standard error; 2.
int refuse_words(const std::vector<std::string>& words);

}  // namespace ruvo::desktop::commands
