// Moving a dictionary in and out of the store from the command line:
// ruvo-gui.exe --export and --import. Both open the store of the
// application-data folder directly, beside a service that may be running on
// it (SQLite in WAL mode lets them), without taking the service's lock.
#pragma once

#include <string>
#include <vector>

namespace ruvo::desktop::commands {

// --export FILE|-: every entry as JSON Lines, to standard output for "-",
// else to FILE, which appears whole or not at all (written beside it and
// renamed at the end). Returns the exit code: 0, or 1 with the reason on
// standard error.
int run_export(const std::string& target);

// --import FILE [--format jsonl|csv|tsv]: the file's entries stored in one
// transaction, all or nothing; the format follows the extension unless
// given. Prints "导入 N 条：新增 a，更新 b，保留 c" and returns 0, or 1 with
// the reason (the line number of a malformed line among it) on standard
// error, the store left exactly as it was.
int run_import(const std::string& path, const std::string& format);

}  // namespace ruvo::desktop::commands
