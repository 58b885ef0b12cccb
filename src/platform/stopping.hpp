// Stopping the local service from another process (ruvo-gui.exe --stop):
// which process holds the single-instance lock, asking it to end, and
// whether it still runs. Plain functions with no system types in them;
// stopping_posix.cpp implements them (the service runs on POSIX only).
#pragma once

#include "common/result.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace ruvo::platform {

using common::Result;

// The process that holds the lock try_lock_instance takes on `path`, as the
// system reports the lock's owner; nothing when no process holds it (or the
// file is not there). The error when the system cannot tell.
Result<std::optional<std::uint32_t>> instance_lock_owner(const std::string& path);

// Asks the process to end as it does on a stop signal (SIGTERM). The error
// when it cannot be asked (it belongs to another user, say); a process that
// has ended already counts as asked.
Result<void> ask_to_stop(std::uint32_t pid);

// True while a process of this id exists.
bool process_runs(std::uint32_t pid);

}  // namespace ruvo::platform
