// `ruvo-gui.exe --service`: the headless local term service, wired and
// started: the store, the model, the HTTP side, the discovery file, the log.
#pragma once

#include "common/result.hpp"

#include <string>
#include <string_view>

namespace ruvo::desktop::service {

inline constexpr std::string_view kLockFileName = "ruvo-gui.lock";
inline constexpr std::string_view kLogFileName = "ruvo-gui.log";
// Where an import through the service is written as it arrives, one at a
// time; removed when the import ends, and at start-up when a run that ended
// abruptly left it.
inline constexpr std::string_view kImportFileName = "ruvo-import.upload";

// The exit code of an instance that finds another one holding the lock,
// at start or later while it serves. ruvo never waits for the program it
// starts, so the code is for people and scripts, not for ruvo.
inline constexpr int kExitAnotherInstance = 3;

// Runs the service for `data_folder` (<application-data folder>/
// com.corvanta.desktop, as the client finds it) until SIGTERM or SIGINT. In
// order: standard streams on the null device and a session of its own; the
// folder made (an error there ends it with 1); the single-instance lock in
// it; the folder made 0700; the log; the store; the model configuration
// (model.json there and the environment); a listening socket on 127.0.0.1
// at a free port; a fresh token; and only then the discovery file. While
// serving it keeps the discovery file and the lock file in place
// (upkeep.hpp). On a stop signal it stops serving, removes the discovery
// file if it is still its own, and returns.
// Returns the exit code: 0 after a stop; kExitAnotherInstance when another
// instance already holds the lock (nothing is touched then but one log
// line) or has taken it over; 1 when it could not start (a symbolic link at
// the lock, the log or the store, say), the reason being in the log when the
// log could be opened.
int run_service(const common::Result<std::string>& data_folder);

}  // namespace ruvo::desktop::service
