// What a background service does with its own process: leave the caller's
// session and streams, wait for a stop signal, and start a program of its own
// detached (a browser). daemon_posix.cpp implements it.
#pragma once

#include "common/result.hpp"

#include <chrono>
#include <string>
#include <vector>

namespace ruvo::platform {

using common::Error;
using common::Result;

// Outcome of detach_from_caller.
enum class Detach {
  kDone,         // streams on the null device, in a session of our own
  kParentExits,  // we forked to leave the session; this is the parent, exit 0
  kFailed,       // the null device could not be opened, or no session
};

// Points standard input, output and error at the null device and leaves the
// caller's session, so the caller's pipes are neither read, written nor kept
// open, and a Ctrl-C aimed at the caller's terminal does not reach us. A
// process that already leads its process group cannot start a session; it
// forks once, and the parent should exit at once with kParentExits. Also
// makes every file created later private (umask 077) and ignores SIGPIPE and
// SIGHUP.
Detach detach_from_caller();

// Blocks SIGTERM and SIGINT in the calling thread and every thread it starts
// afterwards, so that only wait_for_stop_signal(_for) receives them. Call before
// any thread is started.
void block_stop_signals();

// Waits for SIGTERM or SIGINT and returns its number.
int wait_for_stop_signal();

// Waits at most `timeout` for SIGTERM or SIGINT: its number, or 0 when the
// time passed without one. Lets the waiting thread do a little work at
// intervals while a stop signal still ends the wait at once.
int wait_for_stop_signal_for(std::chrono::milliseconds timeout);

// Sends ourselves SIGTERM, waking wait_for_stop_signal(_for) (used when the server
// thread ends on its own).
void request_stop();

int current_pid();

// Starts words[0] (looked up in PATH when it names no folder) with the
// argument vector `words`, standard input, output and error on the null
// device, in a session of its own, not waited for: how the service opens a
// browser, whose chatter must not reach a terminal or pipe of ours. The
// error when it could not be started (not found, not executable).
Result<void> start_detached_program(const std::vector<std::string>& words);

}  // namespace ruvo::platform
