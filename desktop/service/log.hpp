// The service's own log: a file in the application-data folder, never a
// standard stream (those are the null device once the service runs).
#pragma once

#include "platform/files.hpp"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace ruvo::desktop::service {

inline constexpr std::uint64_t kMaxLogBytes = 1024 * 1024;

class Log {
 public:
  // A log that drops every line (for code run without one).
  Log() = default;
  // Appends to the file at `path`, created owner-only. Before a line would
  // take the file past `max_bytes`, it is renamed to `path` + ".1" (replacing
  // the previous one) and a new file is begun, so the log never holds more
  // than about twice `max_bytes`.
  // The file is opened with O_NOFOLLOW, so a symbolic link put at `path`
  // (or at `path` + ".1", which rotation replaces) is never written
  // through.
  explicit Log(std::string path, std::uint64_t max_bytes = kMaxLogBytes);

  // Opens the file now (a log without a path needs nothing), so that a
  // caller can refuse to run when it cannot log: a link at the path, say.
  // Without it the file is opened by the first write.
  common::Result<void> open();

  // Appends "<local time> <message>" and a line feed; line breaks inside the
  // message become spaces. Safe from several threads. Failures are dropped:
  // a service that cannot log still serves, and a file that could not be
  // opened is tried again by the next line. The file stays open between
  // lines: every request is logged, and reopening per line cost more than
  // the rest of a lookup.
  void write(std::string_view message);

  // A line written first in every file begun by rotation, so what the first
  // file said about the process (its id, say) is never rotated away.
  void set_rotation_heading(std::string message);

  const std::string& path() const { return path_; }

 private:
  std::string stamped(std::string_view message) const;
  common::Result<void> open_file();  // with mutex_ held

  std::mutex mutex_;
  std::string path_;
  std::uint64_t max_bytes_ = kMaxLogBytes;
  std::string heading_;
  std::optional<platform::AppendFile> file_;
};

}  // namespace ruvo::desktop::service
