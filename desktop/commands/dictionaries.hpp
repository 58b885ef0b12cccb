// Dictionaries from the command line: ruvo-gui.exe --add-dictionary, --dictionaries and
// --remove-dictionary, on the store of the application-data folder directly, beside a service
// that may be running on it (as --import does).
#pragma once

#include <string>
#include <vector>

namespace ruvo::desktop::commands {

// --add-dictionary PATH…: each file or folder's dictionaries added, each all or nothing. One line
// per dictionary added, "<name>：<N> 条" on standard output; each one refused on standard error
// with why. 0 when every path added something and nothing was refused, else 1.
int run_add_dictionaries(const std::vector<std::string>& paths);

// --dictionaries: the dictionaries in the person's order, "<id>  <name>  <format>  <N> 条", a
// disabled one marked "（已停用）"; then the ones found on this system not added yet. 0, or 1 with
// the reason.
int run_list_dictionaries();

// --remove-dictionary ID: "已删除词典 <name>（<N> 条）" and 0; 1 for no such dictionary.
int run_remove_dictionary(const std::string& id);

}  // namespace ruvo::desktop::commands
