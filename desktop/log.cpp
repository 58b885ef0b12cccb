#include "log.hpp"

#include "system.hpp"

#include <cstdio>

namespace ruvo::desktop {

Log::Log(std::string path, std::uint64_t max_bytes) : path_(std::move(path)), max_bytes_(max_bytes) {}

void Log::write(std::string_view message) {
  if (path_.empty()) return;
  std::string line = local_timestamp();
  line.push_back(' ');
  for (char c : message) line.push_back(c == '\n' || c == '\r' ? ' ' : c);
  line.push_back('\n');

  std::lock_guard<std::mutex> guard(mutex_);
  auto size = file_size(path_);
  if (size && *size > 0 && *size + line.size() > max_bytes_) rename_file(path_, path_ + ".1");
  if (make_private_file(path_)) return;
  std::FILE* file = std::fopen(path_.c_str(), "ab");
  if (file == nullptr) return;
  std::fwrite(line.data(), 1, line.size(), file);
  std::fclose(file);
}

}  // namespace ruvo::desktop
