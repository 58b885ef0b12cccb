// The process entry of ruvo-gui.exe: one table of the words it accepts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ruvo::desktop {

extern const std::string_view kGuiHelpText;
// "ruvo-gui <protocol::kVersion>" and a line feed.
std::string gui_version_line();
inline constexpr std::string_view kGuiUsageLine =
    "用法：ruvo-gui.exe [--open] | --url | --service | --export 文件|- | --import 文件 [--format jsonl|csv|tsv] | --help | --version\n";

// Runs ruvo-gui.exe with the words after the program name and returns the
// exit code: no word or "--open" opens the interface in the browser and
// "--url" prints a sign-in address (open.hpp); "--service" runs the service;
// "--help"/"-h" and "--version"/"-V" write to standard output and give 0;
// "--export FILE" and "--import FILE [--format F]" move entries out of and
// into the store (exchange.hpp); any other words write the usage line to
// standard error and give 2.
int run_gui(const std::vector<std::string>& words);

}  // namespace ruvo::desktop
