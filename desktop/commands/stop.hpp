// --stop: ends the service of the application-data folder from outside, the
// way a stop signal does, and waits until it has.
#pragma once

namespace ruvo::desktop::commands {

// Finds the process holding the folder's instance lock (as the system
// reports the lock's owner; the discovery file's "pid", when it names
// another process, is reported and not acted on), sends it SIGTERM and waits
// up to 30 s for the lock to be let go. 0 with "服务已停止（进程 N）" on
// standard output, or "没有在运行的服务" when none holds the lock; 1 with the
// reason on standard error when it cannot be asked or does not stop in time.
int run_stop();

}  // namespace ruvo::desktop::commands
