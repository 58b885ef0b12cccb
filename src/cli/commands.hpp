// The person's commands: lookup, explain, save. Each takes the words after
// its command word, returns the exit code, and reports failures through
// fail_and_exit.
#pragma once

#include <string>
#include <vector>

namespace ruvo::cli {

int run_lookup(const std::vector<std::string>& words);
int run_explain(const std::vector<std::string>& words);
int run_save(const std::vector<std::string>& words);

}  // namespace ruvo::cli
