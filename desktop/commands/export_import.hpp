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
// renamed at the end); a FILE that exists and is not a regular file (a
// pipe, a device, a folder) is refused. Returns the exit code: 0, or 1 with the reason on
// standard error.
int run_export(const std::string& target);

// --import FILE|- [--format jsonl|csv|tsv]: the entries of the file, or of
// standard input for "-", stored in one transaction, all or nothing; the
// format follows the extension unless given. Only a regular file is read
// (a pipe or a device is refused without waiting on it), and at most the
// 64 MiB an import through the service may have; more is refused. Prints "导入 N 条：新增 a，更新 b，保留 c" and
// returns 0, or 1 with the reason (the line number of a malformed line among it) on standard error, the store left
// exactly as it was.
int run_import(const std::string& path, const std::string& format);

}  // namespace ruvo::desktop::commands
