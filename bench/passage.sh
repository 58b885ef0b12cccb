#!/usr/bin/env bash
# The terms of a passage against a big store: the generated dictionary of
# bench/scale.sh (N entries, default 1,000,000, a fifth with an alias)
# imported into a fresh application-data folder, a service started on it by
# `ruvo health`, then POST /v1/explain of 2,000-character passages in mode
# "passage" without a model (bench/tools/passage_times.mjs): the first
# request, which reads every name into memory, and the median of the rest.
# The service's resident memory is read from /proc before and after.
#
#   bench/passage.sh                          full run
#   RUVO_SCALE_TERMS=100000 bench/passage.sh  a smaller store
#   RUVO_BENCH_BUILD=<dir>                    build folder (default build-bench,
#                                             configured as Release when new)
#
# The service listens on 127.0.0.1 and is stopped by its process id on the
# way out. The table is also written to <build>/passage-results.md.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bench="$root/bench"
build=${RUVO_BENCH_BUILD:-$root/build-bench}
terms=${RUVO_SCALE_TERMS:-1000000}
rounds=${RUVO_PASSAGE_ROUNDS:-30}

log() { printf '== %s\n' "$*" >&2; }
for tool in node cmake; do
  command -v "$tool" >/dev/null || { echo "passage.sh needs $tool (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

# An existing build folder keeps its own configuration.
[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
log "building ruvo and ruvo-gui.exe in $build ($(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt"))"
cmake --build "$build" -j"$(nproc)" --target ruvo ruvo_gui >/dev/null

work=$(mktemp -d /tmp/ruvo-passage.XXXXXX)
folder="$work/big"
cleanup() {
  "$bench/lib/stop_service.sh" "$folder"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

log "generating $terms entries"
node "$bench/tools/gen_terms.mjs" "$terms" >"$work/terms.jsonl"
log "importing them"
mkdir -p "$folder"
APPDATA="$folder" "$build/ruvo-gui.exe" --import "$work/terms.jsonl" >"$work/import.out"

APPDATA="$folder" "$build/ruvo" health >/dev/null
discovery="$folder/com.corvanta.desktop/explain.json"
port=$(sed -n 's/.*"port": *\([0-9][0-9]*\).*/\1/p' "$discovery")
token=$(sed -n 's/.*"token": *"\([^"]*\)".*/\1/p' "$discovery")
pid=$(sed -n 's/.*"pid": *\([0-9][0-9]*\).*/\1/p' "$discovery")
[ -n "$pid" ] || pid=$(sed -n 's/.* starting, pid \([0-9][0-9]*\).*/\1/p' "$folder/com.corvanta.desktop/ruvo-gui.log" | tail -n 1)
kib() { sed -n "s/^$1:[[:space:]]*\([0-9]*\) kB/\1/p" "/proc/$pid/status"; }
rss_before=$(kib VmRSS)

log "passages at the service"
node "$bench/tools/passage_times.mjs" "$port" "$token" "$work/terms.jsonl" "$rounds" >"$work/times"
passage_med=$(awk '$1 == "passage_median_ms" { print $2 }' "$work/times")
first_ms=$(awk '$1 == "first_ms" { print $2 }' "$work/times")
rss_after=$(kib VmRSS)
hwm=$(kib VmHWM)
names_line=$(grep 'name index: ' "$folder/com.corvanta.desktop/ruvo-gui.log" | tail -n 1 | sed 's/^[0-9-]* [0-9:]* //')
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

verdict() { awk "BEGIN { print ($1) ? \"met\" : \"MISSED\" }"; }
mib() { awk "BEGIN { printf \"%.0f\", $1 / 1024 }"; }
cpu_name=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
table=$(cat <<EOT
Machine: $cpu_name, $(nproc) cores, $(uname -sr). Load average (1, 5, 15 min): $load_before before, $load_after after.

| Measurement | value | goal |
|---|---|---|
| store | $terms generated entries; the import said: $(cat "$work/import.out") | |
| the first passage, which reads the names into memory, ms | $first_ms ($names_line) | |
| the terms of a 2,000-character passage (POST /v1/explain, mode passage, no model), median of $((rounds * 4)) requests over 4 passages (3 stopping at their 20th term, 1 read to its end), ms | $passage_med | ≤ 20: $(verdict "$passage_med <= 20") |
| the service's resident memory, MiB: before the first passage / after / peak | $(mib "$rss_before") / $(mib "$rss_after") / $(mib "$hwm") | < 512: $(verdict "$hwm < 512 * 1024") |
EOT
)
printf '%s\n\n```\n%s\n```\n' "$table" "$(cat "$work/times")" | tee "$build/passage-results.md"
