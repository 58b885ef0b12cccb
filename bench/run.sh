#!/usr/bin/env bash
# The benchmarks of ruvo in one command: installs what they need, builds a
# Release ruvo and the local service, starts the service in a
# temporary application-data folder, measures ruvo against the programs a
# user would pick instead (curl, an MCP server on the official TypeScript
# SDK) and against the floor of what this machine can do, and prints the
# table with medians and ratios from this one run.
#
#   bench/run.sh                 full run (a few minutes on 2 busy cores)
#   RUVO_BENCH_QUICK=1 bench/run.sh   fewer repetitions, for trying it out
#   RUVO_BENCH_BUILD=<dir>       build folder (default build-bench)
#   RUVO_BENCH_SKIP_INSTALL=1    do not call apt-get or npm ci
#
# Everything listens on 127.0.0.1; every process started here is stopped by
# its process id on the way out. The table is also written to
# <build>/bench-results.md.
set -euo pipefail
# A benchmark's store holds only what the benchmark puts there, none of this machine's dictionaries.
export RUVO_DICTIONARY_DIRS=
root=$(cd "$(dirname "$0")/.." && pwd)
bench="$root/bench"
build=${RUVO_BENCH_BUILD:-$root/build-bench}
quick=${RUVO_BENCH_QUICK:-0}
started=$(date +%s)

# Repetitions: median over these many runs (quick: a rough look).
if [ "$quick" = 1 ]; then
  R_PROC=30 R_COLD=30 R_COLD_PEER=3 R_LIST=3 N_LIST=2000 N_LIST_PEER=500 N_CALL=200 N_CALL_PEER=100
  R_HEALTH=3 WRK_SECONDS=3 MEM_PEER=1500
else
  R_PROC=200 R_COLD=200 R_COLD_PEER=15 R_LIST=7 N_LIST=10000 N_LIST_PEER=2000 N_CALL=2000 N_CALL_PEER=1000
  R_HEALTH=10 WRK_SECONDS=10 MEM_PEER=2000
fi

log() { printf '== %s\n' "$*" >&2; }

# ---- what the benchmarks need ----
if [ "${RUVO_BENCH_SKIP_INSTALL:-0}" != 1 ]; then
  packages=(build-essential cmake pkg-config nlohmann-json3-dev libmicrohttpd-dev libcurl4-openssl-dev
    libssl-dev libsqlite3-dev libgtest-dev libgmock-dev curl wrk hyperfine time)
  missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  command -v node >/dev/null 2>&1 || missing+=(nodejs)
  command -v npm >/dev/null 2>&1 || missing+=(npm)
  if [ ${#missing[@]} -gt 0 ]; then
    sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    log "installing ${missing[*]}"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >&2
  fi
  # npm ci wipes node_modules; only when the lock file is newer than the install.
  if [ ! -f "$bench/peers/node_modules/.package-lock.json" ] ||
    [ "$bench/peers/package-lock.json" -nt "$bench/peers/node_modules/.package-lock.json" ]; then
    log "npm ci in bench/peers"
    (cd "$bench/peers" && npm ci --no-audit --no-fund >&2)
  fi
fi

# ---- build ----
# The README's build: a plain Release configure (ruvo is static by default).
log "building Release ruvo and ruvo-gui.exe in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target ruvo ruvo_gui >/dev/null
tools="$build/bench-tools"
mkdir -p "$tools"
for t in empty raw_exchange interleave mcp_drive mcp_floor http_floor; do
  cc -O2 -static -s -Wall -Wextra -o "$tools/$t" "$bench/tools/$t.c"
done
ruvo="$build/ruvo"

# ---- the local service ----
work=$(mktemp -d /tmp/ruvo-bench.XXXXXX)
svc="$work/service" cold="$work/cold"
mkdir -p "$svc" "$cold"
svc_pid="" http_floor_pid=""
cleanup() {
  [ -n "$http_floor_pid" ] && kill "$http_floor_pid" 2>/dev/null
  "$bench/lib/stop_service.sh" "$cold"
  "$bench/lib/stop_service.sh" "$svc" $svc_pid
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

log "starting the local service in $svc"
# It detaches itself (and may fork to do so); its pid is read from its log.
APPDATA="$svc" "$build/ruvo-gui.exe" --service &
discovery="$svc/com.corvanta.desktop/explain.json"
for _ in $(seq 1 200); do
  [ -s "$discovery" ] && break
  sleep 0.05
done
[ -s "$discovery" ] || { echo "the service wrote no discovery file" >&2; exit 1; }
# Its process id, from the first line of its log (a file begun by rotation
# repeats it), for stopping it on the way out.
svc_pid=$(sed -n 's/^[0-9-]* [0-9:]* ruvo-gui [^ ]* \(starting\|running\), pid \([0-9][0-9]*\).*/\2/p' "$svc/com.corvanta.desktop/ruvo-gui.log")
json_field() { node -e 'const v=JSON.parse(require("fs").readFileSync(process.argv[1],"utf8"));process.stdout.write(String(v[process.argv[2]]))' "$1" "$2"; }
port=$(json_field "$discovery" port)
token=$(json_field "$discovery" token)
export APPDATA="$svc"
"$ruvo" lookup RAG >/dev/null  # fails here, loudly, if the service does not answer

load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# "key value" output of the tools -> value
pick() { awk -v k="$1" '$1 == k { print $2 }'; }
# awk arithmetic on the command line
calc() { awk "BEGIN { printf \"$1\n\", $2 }"; }

# ---- 1. one lookup from the shell ----
log "lookup from the shell: ruvo, curl, floors ($R_PROC interleaved runs each)"
lookup_body='{"text":"RAG"}'
proc=$("$tools/interleave" "$R_PROC" 5 \
  -- "$ruvo" lookup RAG \
  -- curl -s -o /dev/null -X POST -H "X-Ruvo-Token: $token" -H 'Content-Type: application/json' \
  --data "$lookup_body" "http://127.0.0.1:$port/v1/lookup" \
  -- "$tools/empty" \
  -- "$tools/raw_exchange" "$port" "$token" lookup \
  -- "$tools/raw_exchange" "$port" "$token" probe+lookup)
t_ruvo=$(awk '$1==0{print $2}' <<<"$proc")
t_curl=$(awk '$1==1{print $2}' <<<"$proc")
t_empty=$(awk '$1==2{print $2}' <<<"$proc")
t_raw1=$(awk '$1==3{print $2}' <<<"$proc")
t_raw2=$(awk '$1==4{print $2}' <<<"$proc")

# ---- 2. MCP cold start ----
# The servers take turns run by run; the slow SDK peer joins the first runs only.
peer=(node "$bench/peers/sdk_server.mjs")
peer_log="$work/peer-stderr.log"
list_bytes=$(printf '%s\n' '{"jsonrpc":"2.0","id":1000,"method":"tools/list"}' | "$ruvo" mcp | wc -c)
floor=("$tools/mcp_floor" "$port" "$token" "$list_bytes")
log "MCP cold start: ruvo mcp, C floors ($R_COLD runs), SDK peer ($R_COLD_PEER runs)"
cold_out=$("$tools/mcp_drive" cold "$R_COLD" -- "$ruvo" mcp -- "runs=$R_COLD_PEER" "${peer[@]}" \
  -- "${floor[@]}" -- eof "$tools/empty" 2>>"$peer_log")
cold_ruvo=$(awk '$1==0{print $2}' <<<"$cold_out")
cold_peer=$(awk '$1==1{print $2}' <<<"$cold_out")
cold_floor=$(awk '$1==2{print $2}' <<<"$cold_out")
exit_empty=$(awk '$1==3{print $2}' <<<"$cold_out")

# ---- 3. pipelined tools/list ----
log "MCP pipelined tools/list: $R_LIST rounds each"
list_out=$("$tools/mcp_drive" list "$N_LIST" "$R_LIST" -- "$ruvo" mcp -- "n=$N_LIST_PEER" "${peer[@]}" \
  -- "${floor[@]}" 2>>"$peer_log")
list_ruvo=$(awk '$1==0{print $2}' <<<"$list_out")
list_peer=$(awk '$1==1{print $2}' <<<"$list_out")
list_floor=$(awk '$1==2{print $2}' <<<"$list_out")

# ---- 4. sequential tools/call ----
# Besides the peer as one would write it (one exchange per call), the same
# peer making ruvo's two exchanges, and the two raw exchanges against a server
# that does nothing (the loopback floor) as well as against the local service.
log "MCP tools/call ruvo_lookup: $N_CALL calls each (peers $N_CALL_PEER), taking turns"
"$tools/http_floor" >"$work/http_floor.port" &
http_floor_pid=$!
for _ in $(seq 1 100); do [ -s "$work/http_floor.port" ] && break; sleep 0.02; done
http_floor_port=$(cat "$work/http_floor.port")
call_out=$("$tools/mcp_drive" call "$N_CALL" -- "$ruvo" mcp -- "runs=$N_CALL_PEER" "${peer[@]}" \
  -- "runs=$N_CALL_PEER" env RUVO_PEER_PROBE=1 "${peer[@]}" -- "${floor[@]}" -- raw "$port" "$token" \
  -- raw "$http_floor_port" "$token" 2>>"$peer_log")
kill "$http_floor_pid"
wait "$http_floor_pid" 2>/dev/null || true
http_floor_pid=""
call_ruvo=$(awk '$1==0{print $2}' <<<"$call_out")
call_peer=$(awk '$1==1{print $2}' <<<"$call_out")
call_peer2=$(awk '$1==2{print $2}' <<<"$call_out")
call_floor=$(awk '$1==3{print $2}' <<<"$call_out")
raw_pair=$(awk '$1==4{print $2}' <<<"$call_out")
loop_pair=$(awk '$1==5{print $2}' <<<"$call_out")

# ---- 5. memory ----
log "memory: peak RSS of one lookup; ruvo mcp after 1,000 and 10,000 calls"
max_rss() {  # median "Maximum resident set size" (KiB) of 5 runs
  for _ in 1 2 3 4 5; do
    /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident/ { print $2 }'
  done | sort -n | sed -n 3p
}
rss_ruvo=$(max_rss "$ruvo" lookup RAG)
rss_curl=$(max_rss curl -s -o /dev/null -X POST -H "X-Ruvo-Token: $token" \
  -H 'Content-Type: application/json' --data "$lookup_body" "http://127.0.0.1:$port/v1/lookup")
rss_empty=$(max_rss "$tools/empty")
read -r _ mcp_rss_1k _ mcp_rss_10k mcp_hwm_10k < <("$tools/mcp_drive" memory 1000 10000 -- "$ruvo" mcp)
read -r _ peer_rss_1k _ peer_rss_n _ < <("$tools/mcp_drive" memory 1000 "$MEM_PEER" -- "${peer[@]}" 2>>"$peer_log")

# ---- 6. cold start of the service ----
log "cold ruvo health: $R_HEALTH runs, the service stopped before each"
hyperfine -N --runs "$R_HEALTH" --warmup 1 --export-json "$work/health.json" \
  --prepare "$bench/lib/stop_service.sh $cold" \
  "env APPDATA=$cold $ruvo health" >/dev/null
health_ms=$(node -e 'const r=JSON.parse(require("fs").readFileSync(process.argv[1])).results[0];
  console.log((r.median*1000).toFixed(1), (r.min*1000).toFixed(1), (r.max*1000).toFixed(1))' "$work/health.json")
"$bench/lib/stop_service.sh" "$cold"
health_med=$(cut -d' ' -f1 <<<"$health_ms")
health_max=$(cut -d' ' -f3 <<<"$health_ms")

# ---- 7. the service itself ----
log "the service: wrk POST /v1/lookup, 2 threads, 4 connections, ${WRK_SECONDS}s"
wrk_out=$(RUVO_TOKEN="$token" wrk -t2 -c4 -d"${WRK_SECONDS}s" -s "$bench/wrk_lookup.lua" \
  "http://127.0.0.1:$port/v1/lookup" | tail -n 4)
svc_rps=$(pick rps <<<"$wrk_out")
svc_p50=$(pick p50_us <<<"$wrk_out")
svc_p99=$(pick p99_us <<<"$wrk_out")
svc_err=$(pick errors <<<"$wrk_out")

load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- the table ----
ms() { calc '%.2f' "$1/1000"; }
verdict() { awk "BEGIN { print ($1) ? \"met\" : \"MISSED\" }"; }
r_lookup_curl=$(calc '%.3f' "$t_ruvo/$t_curl")
r_lookup_floor=$(calc '%.2f' "$t_ruvo/$t_raw2")
r_cold=$(calc '%.0f' "$cold_peer/$cold_ruvo")
r_list=$(calc '%.1f' "$list_ruvo/$list_peer")
r_call=$(calc '%.3f' "$call_ruvo/$call_peer")
growth=$((mcp_rss_10k - mcp_rss_1k))
cpu=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)

table=$(cat <<EOF
Machine: $cpu, $(nproc) cores, $(awk '/MemTotal/ { printf "%.1f GiB", $2/1048576 }' /proc/meminfo), $(uname -sr)
Load average (1, 5, 15 min): $load_before before, $load_after after. Run took $(( $(date +%s) - started )) s.

| Measurement | ruvo | peer | ratio (goal) | floor here |
|---|---|---|---|---|
| one lookup from the shell, median ms | $(ms "$t_ruvo") (2 exchanges) | curl, 1 exchange: $(ms "$t_curl") | $r_lookup_curl× curl (≤ 0.25: $(verdict "$t_ruvo <= 0.25 * $t_curl")) | empty program $(ms "$t_empty"); + 1 raw exchange $(ms "$t_raw1"); + 2 raw exchanges $(ms "$t_raw2") → ruvo $r_lookup_floor× (≤ 2.5: $(verdict "$t_ruvo <= 2.5 * $t_raw2")) |
| MCP cold start to "initialize" reply, median ms | $(ms "$cold_ruvo") | SDK server: $(ms "$cold_peer") | peer / ruvo = ${r_cold}× (≥ 100: $(verdict "$cold_peer >= 100 * $cold_ruvo")) | C line server $(ms "$cold_floor"); empty program spawn→exit $(ms "$exit_empty") |
| MCP pipelined "tools/list", requests/s | $list_ruvo | $list_peer | ${r_list}× (≥ 5: $(verdict "$list_ruvo >= 5 * $list_peer")) | C line server, same reply size ($list_bytes B): $list_floor |
| MCP "tools/call" ruvo_lookup, median µs per call | $call_ruvo (2 exchanges) | $call_peer (1 exchange); making ruvo's 2 exchanges: $call_peer2 | ${r_call}× (≤ 0.25: $(verdict "$call_ruvo <= 0.25 * $call_peer")); like for like $(calc '%.3f' "$call_ruvo/$call_peer2")× | C line server + 2 raw exchanges $call_floor; the 2 raw exchanges alone $raw_pair; the same against a do-nothing C server $loop_pair |
| peak RSS of \`ruvo lookup\`, KiB (/usr/bin/time -v) | $rss_ruvo | curl $rss_curl | ≤ 3072 KiB: $(verdict "$rss_ruvo <= 3072") | empty static program $rss_empty |
| RSS of \`ruvo mcp\` after 1,000 / 10,000 calls, KiB | $mcp_rss_1k / $mcp_rss_10k (peak $mcp_hwm_10k) | SDK server after 1,000 / $MEM_PEER: $peer_rss_1k / $peer_rss_n | growth $growth KiB (flat: $(verdict "$growth <= 16")) | |
| cold \`ruvo health\`, service not running, median ms | $health_med (max $health_max, $R_HEALTH runs) | | < 450 ms: $(verdict "$health_med < 450") | first wait is 300 ms |
| service POST /v1/lookup, wrk 2 threads 4 connections | $svc_rps req/s, p50 $svc_p50 µs, p99 $svc_p99 µs, $svc_err errors | | | |
EOF
)
printf '%s\n' "$table" | tee "$build/bench-results.md"
