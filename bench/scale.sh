#!/usr/bin/env bash
# The dictionary at scale: a generated file of N entries (default 1,000,000)
# imported with `ruvo-gui.exe --import` into a fresh application-data folder;
# the store file against the file's size and against its own export; the
# export imported into another empty folder and exported again, which must
# give the same bytes; then, with a service started by `ruvo health` on the
# big store and one on a fresh store (the starter glossary, about fifty
# entries), `ruvo lookup RAG` on both taking turns, and the service's search
# and suggestion times on the big one (bench/tools/query_times.mjs).
#
#   bench/scale.sh                        full run (a few minutes once built)
#   RUVO_SCALE_TERMS=100000 bench/scale.sh a smaller store
#   RUVO_SCALE_ROUNDTRIP=0 bench/scale.sh  leave out the second import and export
#   RUVO_BENCH_BUILD=<dir>                build folder (default build-bench)
#
# Every service started here listens on 127.0.0.1 and is stopped by its
# process id on the way out. The table is also written to
# <build>/scale-results.md.
set -euo pipefail
# A benchmark's store holds only what the benchmark puts there, none of this machine's dictionaries.
export RUVO_DICTIONARY_DIRS=
root=$(cd "$(dirname "$0")/.." && pwd)
bench="$root/bench"
build=${RUVO_BENCH_BUILD:-$root/build-bench}
terms=${RUVO_SCALE_TERMS:-1000000}
lookups=${RUVO_SCALE_LOOKUPS:-300}

log() { printf '== %s\n' "$*" >&2; }
for tool in node cc cmake cmp; do
  command -v "$tool" >/dev/null || { echo "scale.sh needs $tool (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

log "building Release ruvo and ruvo-gui.exe in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target ruvo ruvo_gui >/dev/null
tools="$build/bench-tools"
mkdir -p "$tools"
cc -O2 -Wall -Wextra -o "$tools/interleave" "$bench/tools/interleave.c"

work=$(mktemp -d /tmp/ruvo-scale.XXXXXX)
folders=()
cleanup() {
  for f in "${folders[@]}"; do "$bench/lib/stop_service.sh" "$f"; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
gui="$build/ruvo-gui.exe"
store_of() { echo "$1/com.corvanta.desktop/ruvo-terms.sqlite3"; }
size_of() { stat -c %s "$1"; }
mib() { awk "BEGIN { printf \"%.0f\", $1 / 1048576 }"; }
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

log "generating $terms entries"
node "$bench/tools/gen_terms.mjs" "$terms" >"$work/terms.jsonl"
file_bytes=$(size_of "$work/terms.jsonl")

# Wall seconds, CPU seconds (user + system) and peak RSS of one import.
timed_import() {  # folder file
  folders+=("$1")
  mkdir -p "$1"
  APPDATA="$1" /usr/bin/time -f '%e %U %S %M' -o "$work/time" "$gui" --import "$2" >"$work/import.out"
  read -r wall user sys rss <"$work/time"
  cpu=$(awk "BEGIN { printf \"%.1f\", $user + $sys }")
}
log "importing into an empty folder"
timed_import "$work/big" "$work/terms.jsonl"
import_wall=$wall import_cpu=$cpu import_rss=$rss import_said=$(cat "$work/import.out")
store_bytes=$(size_of "$(store_of "$work/big")")

log "exporting, importing the export into another empty folder, exporting again"
APPDATA="$work/big" "$gui" --export "$work/export.jsonl" >/dev/null
export_bytes=$(size_of "$work/export.jsonl")
same="not run" again_wall="-"
if [ "${RUVO_SCALE_ROUNDTRIP:-1}" = 1 ]; then
  timed_import "$work/again" "$work/export.jsonl"
  again_wall=$wall
  APPDATA="$work/again" "$gui" --export "$work/export-again.jsonl" >/dev/null
  if cmp -s "$work/export.jsonl" "$work/export-again.jsonl"; then same=yes; else same=NO; fi
  rm -rf "$work/export-again.jsonl" "$work/again"
fi

# A file broken on line 500 changes nothing.
{ head -n 499 "$work/terms.jsonl"; echo '{"term":'; } >"$work/broken.jsonl"
before=$(APPDATA="$work/big" "$gui" --export - | md5sum)
if APPDATA="$work/big" "$gui" --import "$work/broken.jsonl" 2>"$work/broken.err"; then broken="accepted (WRONG)"; else
  broken="refused: $(head -c 120 "$work/broken.err")"
fi
after=$(APPDATA="$work/big" "$gui" --export - | md5sum)
[ "$before" = "$after" ] && unchanged=yes || unchanged=NO

start_service() {  # folder; sets port token
  folders+=("$1")
  mkdir -p "$1"
  APPDATA="$1" "$build/ruvo" health >/dev/null
  port=$(sed -n 's/.*"port": *\([0-9][0-9]*\).*/\1/p' "$1/com.corvanta.desktop/explain.json")
  token=$(sed -n 's/.*"token": *"\([^"]*\)".*/\1/p' "$1/com.corvanta.desktop/explain.json")
}
start_service "$work/small"
start_service "$work/big"
log "$lookups x ruvo lookup RAG on the big and the small store, taking turns"
lookup_times=$("$tools/interleave" "$lookups" 10 -- env APPDATA="$work/big" "$build/ruvo" lookup RAG \
  -- env APPDATA="$work/small" "$build/ruvo" lookup RAG)
big_med=$(awk '$1 == 0 { print $2 }' <<<"$lookup_times")
small_med=$(awk '$1 == 1 { print $2 }' <<<"$lookup_times")
log "search and suggestions at the service"
node "$bench/tools/query_times.mjs" "$port" "$token" "$work/terms.jsonl" 15 >"$work/queries"
search_med=$(awk '$1 == "search_median_ms" { print $2 }' "$work/queries")
suggest_med=$(awk '$1 == "suggest_median_ms" { print $2 }' "$work/queries")
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

verdict() { awk "BEGIN { print ($1) ? \"met\" : \"MISSED\" }"; }
ms() { awk "BEGIN { printf \"%.2f\", $1 / 1000 }"; }
cpu_name=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
table=$(cat <<EOT
Machine: $cpu_name, $(nproc) cores, $(uname -sr). Load average (1, 5, 15 min): $load_before before, $load_after after.

| Measurement | value | goal |
|---|---|---|
| import of $terms generated entries ($(mib "$file_bytes") MiB of JSON Lines): wall s / CPU s / peak RSS MiB | $import_wall / $import_cpu / $(mib "$((import_rss * 1024))") | ≤ 60 s: $(verdict "$import_wall <= 60") |
| what the import said | $import_said | |
| store file / its export, MiB (ratio) | $(mib "$store_bytes") / $(mib "$export_bytes") ($(awk "BEGIN { printf \"%.2f\", $store_bytes / $export_bytes }")×) | ≤ 3×: $(verdict "$store_bytes <= 3 * $export_bytes") |
| export imported into an empty folder ($again_wall s) and exported again: the same bytes | $same | yes |
| a file broken on line 500 | $broken; store unchanged: $unchanged | refused, unchanged |
| \`ruvo lookup RAG\`, $lookups runs each, taking turns: median ms on the big store / on the starter store | $(ms "$big_med") / $(ms "$small_med") ($(awk "BEGIN { printf \"%.2f\", $big_med / $small_med }")×) | ≤ 1.2×: $(verdict "$big_med <= 1.2 * $small_med") |
| search at the service (GET /v1/terms, limit 20), median of the queries' medians, ms | $search_med | ≤ 50: $(verdict "$search_med <= 50") |
| suggestions at the service (POST /v1/lookup of misspelt names), median of medians, ms | $suggest_med | ≤ 50: $(verdict "$suggest_med <= 50") |
EOT
)
printf '%s\n\nPer query (median of 15, ms):\n\n```\n%s\n```\n' "$table" "$(cat "$work/queries")" | tee "$build/scale-results.md"
