// The store's files checked and made private before and after SQLite opens them.
#include "store/file_safety.hpp"

#include "platform/files.hpp"
#include "platform/platform.hpp"

#include <vector>

namespace ruvo::desktop::store {

namespace {

// What SQLite keeps beside the store: the write-ahead log, its shared-memory
// index, and the rollback journal of a store not yet in WAL mode.
constexpr const char* kCompanionSuffixes[] = {"-wal", "-shm", "-journal"};

}  // namespace

common::Result<void> refuse_linked_files(const std::string& path) {
  std::vector<std::string> files = {path};
  for (const char* suffix : kCompanionSuffixes) files.push_back(path + suffix);
  for (const auto& file : files) {
    if (platform::is_symbolic_link(file)) {
      return common::failure(file + " is a symbolic link; the store is not opened through one");
    }
  }
  return {};
}

common::Result<std::string> resolved_store_path(const std::string& path) {
  auto slash = path.find_last_of('/');
  std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  auto real = platform::real_path(folder);
  if (!real) return real.error();
  return platform::join_path(*real, slash == std::string::npos ? path : path.substr(slash + 1));
}

common::Result<void> make_companions_private(const std::string& path) {
  for (const char* suffix : kCompanionSuffixes) {
    std::string file = path + suffix;
    auto mode = platform::file_mode(file);
    if (!mode || *mode == 0600) continue;
    if (auto made = platform::set_file_mode(file, 0600); !made) return made.error();
  }
  return {};
}

}  // namespace ruvo::desktop::store
