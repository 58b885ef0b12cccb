// `ruvo-gui.exe --service`: the headless local term service.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ruvo::desktop {

inline constexpr std::string_view kLockFileName = "ruvo-gui.lock";
inline constexpr std::string_view kLogFileName = "ruvo-gui.log";

// The exit code of an instance that finds another one holding the lock,
// at start or later while it serves. ruvo never waits for the program it
// starts, so the code is for people and scripts, not for ruvo.
inline constexpr int kExitAnotherInstance = 3;

// Runs the service until SIGTERM or SIGINT. In order: standard streams on
// the null device and a session of its own; the single-instance lock in the
// application-data folder (com.corvanta.desktop); that folder made 0700;
// the log; the store; the model
// configuration (model.json there and the environment); a listening
// socket on 127.0.0.1 at a free port; a fresh token; and only then the
// discovery file. While serving it keeps the discovery file and the lock
// file in place (upkeep.hpp). On a stop signal it stops serving, removes
// the discovery file if it is still its own, and returns.
// Returns the exit code: 0 after a stop; kExitAnotherInstance when another
// instance already holds the lock (nothing is touched then but one log
// line) or has taken it over; 1 when it could not start (a symbolic link at
// the lock, the log or the store, say), the reason being in the log when the
// log could be opened.
int run_service();

// <application-data folder>/com.corvanta.desktop, where ruvo looks for the
// discovery file and the service keeps its files; nothing when there is no
// application-data folder.
std::optional<std::string> data_folder();

}  // namespace ruvo::desktop
