// The single-instance lock of the local service: one service per
// application-data folder. instance_lock_posix.cpp implements it.
#pragma once

#include "common/result.hpp"

#include <string>

namespace ruvo::platform {

using common::Error;
using common::Result;

// Holds the single-instance lock for as long as it lives.
class InstanceLock {
 public:
  InstanceLock() = default;
  explicit InstanceLock(int fd) : fd_(fd) {}  // takes ownership of the descriptor
  InstanceLock(InstanceLock&& other) noexcept;
  InstanceLock& operator=(InstanceLock&& other) noexcept;
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  ~InstanceLock();

  bool held() const { return fd_ >= 0; }

  // True when `path` is still the file this lock is held on (same device and
  // file number, the path itself not followed if it is a link). A lock file
  // deleted or replaced while held protects nothing: another instance could
  // create a new one and lock that.
  bool is_at(const std::string& path) const;

 private:
  int fd_ = -1;
};

enum class LockOutcome {
  kAcquired,  // the lock is held
  kBusy,      // another process holds it
  kFailed,    // the lock file could not be opened or locked
};

struct LockResult {
  LockOutcome outcome = LockOutcome::kFailed;
  InstanceLock lock;  // held only with kAcquired
  Error error;        // why, with kFailed
};

// Takes an exclusive, non-blocking lock (flock) on the file, creating it
// owner-only if needed and making an existing one 0600. A symbolic link at
// the path is refused, never followed. The lock is released when the
// InstanceLock is destroyed or the process ends, however it ends.
LockResult try_lock_instance(const std::string& path);

}  // namespace ruvo::platform
