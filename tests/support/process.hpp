// Runs a program as a child process with scripted input and collects what it
// writes, for the end-to-end tests. The program under test is a parameter of
// the suite ($RUVO_TEST_PROGRAM, optionally behind $RUVO_TEST_LAUNCHER such as
// "wine64"), so the same tests drive a native ruvo or a Windows ruvo.exe.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace ruvo::test {

struct RunResult {
  int exit_code = -1;             // the exit status; -1 when the child did not exit normally
  bool killed_by_signal = false;  // the child ended through a signal (a time-out kill included)
  int signal = 0;                 // that signal's number
  std::string out;                // everything the child wrote to standard output
  std::string err;                // everything it wrote to standard error, plus notes of run()
                                  //   itself ("[run] ...") when it could not start or killed it
  bool timed_out = false;         // killed by run() after RunSpec::timeout_seconds
};

struct RunSpec {
  std::vector<std::string> words;              // words after the program name
  std::string program;                         // empty: the ruvo under test (RUVO_TEST_PROGRAM)
  std::map<std::string, std::string> env;      // set/override in the child's environment
  std::vector<std::string> unset_env;          // removed from the child's environment
  std::optional<std::string> stdin_bytes;      // nullopt: standard input is /dev/null
  // The child's standard output / error is a pipe whose read end is already
  // closed: every write to it fails with EPIPE (or raises SIGPIPE, whose
  // disposition the child gets at its default).
  bool close_stdout = false;
  bool close_stderr = false;
  // Standard output and error are each a pseudo-terminal (in raw mode, so
  // the bytes arrive as written) instead of a pipe: what a person's terminal
  // is shown.
  bool terminal_outputs = false;
  // Only standard error is such a pseudo-terminal; standard output stays a
  // pipe.
  bool terminal_stderr = false;
  int timeout_seconds = 180;                   // generous; killed (and reported) after it
  std::string cwd;                             // empty: the test's current folder
};

// Starts the program with argument vector {program, words...}, preceded by the
// launcher words when the program is the ruvo under test or a copy of it (a
// program with the same file name, as ProgramDir makes). The child runs in a
// process group of its own with SIGPIPE at its default and an empty signal
// mask; its environment is the test's own with settings.unset_env removed and
// settings.env applied. Standard input is fed from settings.stdin_bytes while both
// outputs are read, so no size of either deadlocks. Returns once the child has
// exited and what it wrote is collected; output that a grandchild still holding
// the pipes writes after that is not waited for.
//
// After settings.timeout_seconds the child's process group is killed with SIGKILL
// and the result has timed_out, exit_code -1 and a note in err. A program that
// cannot be started gives exit_code -1 and a "[run] cannot start" note in err.
// Never throws, never ends the test process.
RunResult run(const RunSpec& settings);

// A started program that the test signals and waits for: its standard
// streams are the null device (or the files given), it stays in the test's
// process group, and it is killed (SIGKILL) and reaped when the Child is
// destroyed unless it has been waited for. Environment as for run().
class Child {
 public:
  struct Files {
    std::string out;  // empty: the null device; otherwise created or emptied
    std::string err;
    std::string in;   // empty: the null device; otherwise opened for reading
  };
  Child(const std::string& program, const std::vector<std::string>& words,
        const std::map<std::string, std::string>& env = {}, const Files& files = {});
  ~Child();
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  int pid() const { return pid_; }
  bool started() const { return pid_ > 0; }
  // Sends the signal to this process only, while it has not been reaped.
  void signal(int number) const;
  // Waits up to `limit_ms` for it to end: its exit code, 128 + the signal's
  // number when a signal ended it, or nothing while it still runs.
  std::optional<int> wait_exit(int limit_ms);
  // False once it has ended (it is then reaped).
  bool running();

 private:
  int pid_ = -1;
  bool reaped_ = false;
};

// The argument vector that starts `program` with `words`: behind the
// launcher words when `program` is the ruvo under test or a copy of it.
std::vector<std::string> command_for(const std::string& program, const std::vector<std::string>& words);

// Starts argv[0] (looked up in PATH) as a shell would start a job: in a
// process group of its own, SIGPIPE at its default, no signal blocked. Its
// environment is the test's own with `unset` removed and `env` applied (and,
// behind a launcher, APPDATA also as RUVO_WINE_APPDATA for the Wine shim);
// its standard streams are the descriptors given (input -1: the null
// device), its folder `cwd` (empty: the test's). The pid, or -1 with the
// reason in `error`.
int spawn_job(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
              const std::vector<std::string>& unset, int in, int out, int err, const std::string& cwd,
              std::string* error);

// $RUVO_TEST_PROGRAM, the ruvo under test (no launcher words); empty when it
// is not set.
std::string ruvo_program();

// The words of $RUVO_TEST_LAUNCHER split at spaces (e.g. {"wine64"}); empty
// when it is not set. run() puts them before the ruvo under test. When it
// does, the child also gets the value of APPDATA as RUVO_WINE_APPDATA: Wine
// replaces APPDATA inside Windows programs, and the shim that the Windows
// pass puts in the launcher (tests/support/wine_shim.cpp) sets it back.
std::vector<std::string> launcher_words();

// True when $RUVO_TEST_LAUNCHER names a launcher, so the ruvo under test runs
// behind it (ruvo.exe under Wine). Tests that need a native program (a shell
// pipeline around it, POSIX error texts) skip or relax a check with it.
bool running_under_launcher();

// The ids of running processes whose executable is exactly `program`.
std::vector<int> processes_running(const std::string& program);

// Kills (SIGKILL) every process running `program` and waits, up to a minute,
// until each is gone. They are not our children (ruvo starts the service
// detached), so their end is watched through /proc.
void kill_all_running(const std::string& program);

// Kills what runs from `program` when the scope ends: a service that ruvo
// started for a test never outlives the test.
struct KillOnExit {
  std::string program;
  ~KillOnExit() { kill_all_running(program); }
};

}  // namespace ruvo::test
