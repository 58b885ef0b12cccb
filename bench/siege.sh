#!/usr/bin/env bash
# The local service under siege: a service started by `ruvo health` in a
# temporary application-data folder gets 1,000 idle connections, 50 clients
# sending their head one line a second and 3 clients sending 50 MiB header
# lines, while `ruvo lookup RAG` runs again and again. Prints `ruvo lookup`'s
# median and p95 quiet and under siege from this one run, the service's peak
# RSS, how long the service let an idle connection stay, and wrk throughput
# of POST /v1/lookup; with RUVO_SIEGE_OLD_REV, also the wrk throughput of a
# build of that revision, for a before/after comparison.
#
#   bench/siege.sh                       full run (about 3 minutes once built)
#   RUVO_BENCH_QUICK=1 bench/siege.sh    fewer lookups, a shorter siege
#   RUVO_BENCH_BUILD=<dir>               build folder (default build-bench)
#   RUVO_SIEGE_OLD_REV=<rev>             also build <rev> (in <dir>-old) and wrk it
#   RUVO_SIEGE_OLD_BUILD=<dir>           ... or use that revision's build already in <dir>
#   RUVO_SIEGE_IDLE/SLOW/BIG             the siege's size (default 1000/50/3)
#
# Everything listens on 127.0.0.1; every service started here is stopped by
# its process id on the way out. The table is also written to
# <build>/siege-results.md.
set -euo pipefail
# A benchmark's store holds only what the benchmark puts there, none of this machine's dictionaries.
export RUVO_DICTIONARY_DIRS=
root=$(cd "$(dirname "$0")/.." && pwd)
bench="$root/bench"
build=${RUVO_BENCH_BUILD:-$root/build-bench}
quick=${RUVO_BENCH_QUICK:-0}
idle=${RUVO_SIEGE_IDLE:-1000} slow=${RUVO_SIEGE_SLOW:-50} big=${RUVO_SIEGE_BIG:-3}
if [ "$quick" = 1 ]; then N_LOOKUP=200 SIEGE_SECONDS=50 WRK_SECONDS=3; else N_LOOKUP=1500 SIEGE_SECONDS=75 WRK_SECONDS=10; fi

log() { printf '== %s\n' "$*" >&2; }
for tool in wrk cc cmake; do
  command -v "$tool" >/dev/null || { echo "siege.sh needs $tool (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

# ---- build ----
build_release() {  # source dir, build dir
  cmake -S "$1" -B "$2" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$2" -j"$(nproc)" --target ruvo ruvo_gui >/dev/null
}
log "building Release ruvo and ruvo-gui.exe in $build"
build_release "$root" "$build"
tools="$build/bench-tools"
mkdir -p "$tools"
for t in interleave siege; do cc -O2 -Wall -Wextra -o "$tools/$t" "$bench/tools/$t.c"; done
old_build=${RUVO_SIEGE_OLD_BUILD:-}
if [ -n "${RUVO_SIEGE_OLD_REV:-}" ] && [ -z "$old_build" ]; then
  old_src="$build-old-src"
  old_build="$build-old"
  log "building $RUVO_SIEGE_OLD_REV in $old_build"
  rm -rf "$old_src"
  mkdir -p "$old_src"
  git -C "$root" archive "$RUVO_SIEGE_OLD_REV" | tar -x -C "$old_src"
  build_release "$old_src" "$old_build"
fi

# ---- services ----
work=$(mktemp -d /tmp/ruvo-siege.XXXXXX)
folders=()
cleanup() {
  for f in "${folders[@]}"; do "$bench/lib/stop_service.sh" "$f"; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Starts the service of build $1 through `ruvo health` in a fresh folder and
# sets svc_pid, port and token.
start_service() {
  local folder="$work/$2"
  mkdir -p "$folder"
  folders+=("$folder")
  APPDATA="$folder" "$1/ruvo" health >/dev/null
  local data="$folder/com.corvanta.desktop"
  svc_pid=$(sed -n 's/^[0-9-]* [0-9:]* ruvo-gui [^ ]* starting, pid \([0-9][0-9]*\).*/\1/p' "$data/ruvo-gui.log" | tail -n 1)
  port=$(sed -n 's/.*"port": *\([0-9][0-9]*\).*/\1/p' "$data/explain.json")
  token=$(sed -n 's/.*"token": *"\([^"]*\)".*/\1/p' "$data/explain.json")
  export APPDATA="$folder"
}
kib() { awk -v f="$1:" '$1 == f { print $2 }' "/proc/$svc_pid/status"; }
wrk_lookup() {  # port token
  RUVO_TOKEN="$2" wrk -t2 -c4 -d"${WRK_SECONDS}s" -s "$bench/wrk_lookup.lua" "http://127.0.0.1:$1/v1/lookup" | tail -n 4
}
pick() { awk -v k="$1" '$1 == k { print $2 }'; }
ms() { awk "BEGIN { printf \"%.2f\", $1 / 1000 }"; }

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
start_service "$build" new
rss_start=$(kib VmRSS)

log "quiet: $N_LOOKUP x ruvo lookup RAG"
read -r _ quiet_med _ quiet_p95 quiet_max < <("$tools/interleave" "$N_LOOKUP" 10 -- "$build/ruvo" lookup RAG)

log "siege: $idle idle, $slow slow heads, $big endless heads for ${SIEGE_SECONDS}s"
"$tools/siege" "$port" "$idle" "$slow" "$big" "$SIEGE_SECONDS" >"$work/siege.out" &
siege_pid=$!
sleep 3
log "under siege: $N_LOOKUP x ruvo lookup RAG"
read -r _ siege_med _ siege_p95 siege_max < <("$tools/interleave" "$N_LOOKUP" 0 -- "$build/ruvo" lookup RAG)
rss_siege=$(kib VmRSS)
wait "$siege_pid"
rss_peak=$(kib VmHWM)
rss_after=$(kib VmRSS)
siege_out=$(cat "$work/siege.out")

# Throughput, this build and the old one taking turns so that a burst of
# load on a shared machine falls on both.
new_port=$port new_token=$token
wrk_new="" wrk_old=""
[ -n "$old_build" ] && start_service "$old_build" old
for round in 1 2 3; do
  log "wrk ${WRK_SECONDS}s, round $round"
  wrk_new+="$(wrk_lookup "$new_port" "$new_token")"$'\n'
  [ -n "$old_build" ] && wrk_old+="$(wrk_lookup "$port" "$token")"$'\n'
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

verdict() { awk "BEGIN { print ($1) ? \"met\" : \"MISSED\" }"; }
# The three rounds: "a / b / c" for each figure.
rounds() { pick "$1" <<<"$2" | paste -sd/ | sed 's|/| / |g'; }
wrk_row() { printf '%s req/s, p50 %s µs, p99 %s µs, %s errors' "$(rounds rps "$1")" "$(rounds p50_us "$1")" \
  "$(rounds p99_us "$1")" "$(rounds errors "$1")"; }
s() { pick "$1" <<<"$siege_out"; }
cpu=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
table=$(cat <<EOF
Machine: $cpu, $(nproc) cores, $(uname -sr). Load average (1, 5, 15 min): $load_before before, $load_after after.
Siege: $idle idle connections, $slow clients sending a header line a second, $big clients sending 50 MiB header lines, ${SIEGE_SECONDS} s.

| Measurement | value | goal |
|---|---|---|
| \`ruvo lookup RAG\` quiet, $N_LOOKUP runs: median / p95 / max ms | $(ms "$quiet_med") / $(ms "$quiet_p95") / $(ms "$quiet_max") | |
| \`ruvo lookup RAG\` under siege, $N_LOOKUP runs, all succeeded: median / p95 / max ms | $(ms "$siege_med") / $(ms "$siege_p95") / $(ms "$siege_max") | median ≤ 2× quiet + 2 ms: $(verdict "$siege_med <= 2 * $quiet_med + 2000"); p95 ≤ 3× quiet + 5 ms: $(verdict "$siege_p95 <= 3 * $quiet_p95 + 5000") |
| service RSS, KiB: at start / under siege / after / peak | $rss_start / $rss_siege / $rss_after / $rss_peak | peak ≤ 64 MiB: $(verdict "$rss_peak <= 65536") |
| idle connections open at once (most) / connects that failed | $(s idle_open_max) / $(s connect_failures) | |
| closed by the service: idle / slow heads / endless heads | $(s idle_closed) / $(s slow_closed) / $(s big_closed) | |
| time an idle connection stayed before the service closed it: median / max ms | $(s idle_lifetime_median_ms) / $(s idle_lifetime_max_ms) | under 45 s: $(verdict "$(s idle_lifetime_max_ms) >= 0 && $(s idle_lifetime_max_ms) < 45000") |
| endless header line sent before the service closed, MiB per connection (kernel socket buffers included) | $(awk "BEGIN { c = $(s big_closed); printf \"%.1f\", c ? $(s big_bytes_before_close) / c / 1048576 : 0 }") | |
| wrk POST /v1/lookup, 2 threads 4 connections, 3 rounds, this build | $(wrk_row "$wrk_new") | |
EOF
)
if [ -n "$wrk_old" ]; then
  table+=$'\n'"| wrk POST /v1/lookup, 2 threads 4 connections, 3 rounds, ${RUVO_SIEGE_OLD_REV:-$old_build} | $(wrk_row "$wrk_old") | |"
fi
printf '%s\n' "$table" | tee "$build/siege-results.md"
