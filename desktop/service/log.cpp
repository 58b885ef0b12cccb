// The log file: appended to under a lock, rotated at its bound.
#include "service/log.hpp"

#include "platform/clock.hpp"
#include "platform/files.hpp"

namespace ruvo::desktop::service {

Log::Log(std::string path, std::uint64_t max_bytes) : path_(std::move(path)), max_bytes_(max_bytes) {}

std::string Log::stamped(std::string_view message) const {
  std::string line = platform::local_timestamp();
  line.push_back(' ');
  for (char c : message) line.push_back(c == '\n' || c == '\r' ? ' ' : c);
  line.push_back('\n');
  return line;
}

void Log::set_rotation_heading(std::string message) {
  std::lock_guard<std::mutex> guard(mutex_);
  heading_ = std::move(message);
}

common::Result<void> Log::open_file() {
  if (path_.empty() || file_) return {};
  auto opened = platform::AppendFile::open(path_);
  if (!opened) return opened.error();
  file_ = std::move(opened).value();
  return {};
}

common::Result<void> Log::open() {
  std::lock_guard<std::mutex> guard(mutex_);
  return open_file();
}

void Log::write(std::string_view message) {
  if (path_.empty()) return;
  std::string line = stamped(message);

  std::lock_guard<std::mutex> guard(mutex_);
  // Opened on first use, and again after a failed open, so a folder that
  // becomes writable later still gets its log.
  if (!open_file()) return;
  if (file_->size() > 0 && file_->size() + line.size() > max_bytes_) {
    file_.reset();
    // rename replaces whatever is at ".1", a link included, and never
    // writes through it. When it fails the lines go on into the same file:
    // a log past its bound is better than none, and there is nowhere else
    // to say so.
    [[maybe_unused]] const auto rotated = platform::rename_file(path_, path_ + ".1");
    if (!open_file()) return;
    if (!heading_.empty()) line.insert(0, stamped(heading_));
  }
  file_->append(line);
}

}  // namespace ruvo::desktop::service
