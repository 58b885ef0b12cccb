#!/usr/bin/env bash
# Stops every ruvo-gui.exe that served from the application-data folder $1,
# by the process ids it logged at start ("starting, pid N", in the log or the
# log it rotated to .1) and any further ids given after the folder, and waits
# until each has gone. A pid is only signalled while it still runs
# ruvo-gui.exe, so a recycled pid is never touched. Used between cold-start
# runs and on the way out.
#   stop_service.sh FOLDER [PID...]
set -u
folder="$1"
shift
log="$folder/com.corvanta.desktop/ruvo-gui.log"

# Alive and not a zombie waiting for a parent that does not reap.
running() {
  local state
  state=$(sed -n 's/^State:[[:space:]]*\([A-Z]\).*/\1/p' "/proc/$1/status" 2>/dev/null)
  [ -n "$state" ] && [ "$state" != Z ]
}

pids=$({
  sed -n 's/^[0-9-]* [0-9:]* ruvo-gui [^ ]* \(starting\|running\), pid \([0-9][0-9]*\).*/\2/p' "$log" "$log.1" 2>/dev/null
  printf '%s\n' "$@"
} | grep -E '^[0-9]+$' | sort -u)
for pid in $pids; do
  tr '\0' ' ' 2>/dev/null <"/proc/$pid/cmdline" | grep -q 'ruvo-gui\.exe' || continue
  kill -TERM "$pid" 2>/dev/null || continue
  for _ in $(seq 1 200); do
    running "$pid" || break
    sleep 0.025
  done
  running "$pid" && kill -KILL "$pid" 2>/dev/null
done
exit 0
