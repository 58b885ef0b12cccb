#!/usr/bin/env bash
# The local service under hostile use, measured in one run against the built
# ruvo and ruvo-gui.exe, each service in a temporary application-data folder
# holding a generated store (tools/gen_terms.mjs, imported with
# `ruvo-gui.exe --import`, started by `ruvo health`):
#   1. lookups and health during one hostile request at a time, back to back:
#      a search of 300 one-letter words ("s s s ..."), one of 300 distinct short
#      words, a lookup of 20,000 distinct Chinese characters; the request's own
#      time and whether it said "partial": true;
#   2. lookups while 8 clients search common words without pause;
#   3. `ruvo lookup RAG` during the first of 1.: wall time, exit code, and
#      whether a second service instance was started;
#   4. health during 1. (inside 1.);
#   5. lookups and a few concurrent saves during a big POST /v1/import;
#   6. the service's memory with 300 exports opened and left unread, and with
#      20 uploads held one byte short of their declared length;
#   7. suggestions: misses one step past a stored name, and misspellings;
#   8. 4,200 idle connections without a token, then `ruvo lookup RAG` and
#      token-carrying lookups.
# The store for 1. to 4. holds RUVO_HOSTILE_SEARCH_TERMS entries, the other
# RUVO_HOSTILE_TERMS. Goals the service misses are reported as missed; the
# script fails only when it cannot measure.
#
#   bench/hostile.sh                              full run (1,000,000 and 100,000 entries)
#   RUVO_HOSTILE_TERMS=20000 RUVO_HOSTILE_WINDOW=4 bench/hostile.sh   a small run
#   RUVO_BENCH_BUILD=<dir>                        build folder (default build-bench)
#   RUVO_HOSTILE_SEARCH_TERMS   store for 1.-4. (default the smaller of 100000 and TERMS)
#   RUVO_HOSTILE_WINDOW         seconds of each loaded measurement (default 10)
#   RUVO_HOSTILE_CAP            seconds any one exchange may take before it counts as timed out (default 120)
#   RUVO_HOSTILE_IMPORT_TERMS   entries in the import of 5. (default 100000, about 37 MiB)
#   RUVO_HOSTILE_EXPORTS        stalled exports in 6. (default 300)
#   RUVO_HOSTILE_UPLOADS        held uploads in 6. (default 20)
#   RUVO_HOSTILE_UPLOAD_MIB     length each upload declares (default 64, the import limit)
#   RUVO_HOSTILE_FLOOD          idle connections without a token in 8. (default 4200)
#   RUVO_HOSTILE_ROUNDS         times each suggestion text is asked in 7. (default 15)
#
# Everything listens on 127.0.0.1; every process started here is stopped by
# its process id on the way out. The table is also written to
# <build>/hostile-results.md.
set -euo pipefail
# A benchmark's store holds only what the benchmark puts there, none of this machine's dictionaries.
export RUVO_DICTIONARY_DIRS=
export LC_ALL=C.UTF-8
root=$(cd "$(dirname "$0")/.." && pwd)
bench="$root/bench"
build=${RUVO_BENCH_BUILD:-$root/build-bench}
terms=${RUVO_HOSTILE_TERMS:-1000000}
search_terms=${RUVO_HOSTILE_SEARCH_TERMS:-$((terms < 100000 ? terms : 100000))}
window=${RUVO_HOSTILE_WINDOW:-10}
cap=${RUVO_HOSTILE_CAP:-120}
import_terms=${RUVO_HOSTILE_IMPORT_TERMS:-100000}
exports=${RUVO_HOSTILE_EXPORTS:-300}
uploads=${RUVO_HOSTILE_UPLOADS:-20}
upload_mib=${RUVO_HOSTILE_UPLOAD_MIB:-64}
flood=${RUVO_HOSTILE_FLOOD:-4200}
rounds=${RUVO_HOSTILE_ROUNDS:-15}
[ "$search_terms" -le "$terms" ] || { echo "RUVO_HOSTILE_SEARCH_TERMS must not exceed RUVO_HOSTILE_TERMS" >&2; exit 1; }

log() { printf '== %s\n' "$*" >&2; }
for tool in node cc cmake; do
  command -v "$tool" >/dev/null || { echo "hostile.sh needs $tool (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

log "building Release ruvo and ruvo-gui.exe in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 --target ruvo ruvo_gui >/dev/null
tools="$build/bench-tools"
mkdir -p "$tools"
cc -O2 -Wall -Wextra -pthread -o "$tools/hostile_load" "$bench/tools/hostile_load.c"
cc -O2 -Wall -Wextra -o "$tools/siege" "$bench/tools/siege.c"

# ---- processes, folders, clean-up ----
work=$(mktemp -d /tmp/ruvo-hostile.XXXXXX)
folders=()
bg=()
stop_bg() {  # pid: SIGTERM, wait, forget
  kill -TERM "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
  local kept=() p
  for p in "${bg[@]}"; do [ "$p" = "$1" ] || kept+=("$p"); done
  bg=("${kept[@]}")
}
wait_bg() {  # pid: let it end, forget
  wait "$1" 2>/dev/null || true
  local kept=() p
  for p in "${bg[@]}"; do [ "$p" = "$1" ] || kept+=("$p"); done
  bg=("${kept[@]}")
}
cleanup() {
  local p f
  for p in "${bg[@]}"; do kill -TERM "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  for f in "${folders[@]}"; do "$bench/lib/stop_service.sh" "$f"; done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

data_of() { echo "$1/com.corvanta.desktop"; }
explain_of() { echo "$(data_of "$1")/explain.json"; }
log_of() { echo "$(data_of "$1")/ruvo-gui.log"; }
service_pid() {
  sed -n 's/^[0-9-]* [0-9:]* ruvo-gui [^ ]* starting, pid \([0-9][0-9]*\).*/\1/p' "$(log_of "$1")" | tail -n 1
}
kib() { awk -v f="$2:" '$1 == f { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }
mib() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }
load() {  # folder, then the driver's run arguments
  local folder=$1
  shift
  "$tools/hostile_load" "$(explain_of "$folder")" run "$@"
}
# The value after KEY on GROUP's summary line of a driver output file.
get() { awk -v g="$1" -v k="$2" '$1 == g && $2 != "each" { for (i = 2; i < NF; i++) if ($i == k) { print $(i + 1); exit } }' "$3"; }
each() { awk -v g="$1" '$1 == g && $2 == "each" { $1 = ""; $2 = ""; sub(/^ +/, ""); print }' "$2"; }
# "p50 / p95 / max" of a group, or "no exchange".
spread() {
  local n
  n=$(get "$1" n "$2")
  [ "${n:-0}" -gt 0 ] || { echo "no exchange"; return; }
  echo "$(get "$1" p50 "$2") / $(get "$1" p95 "$2") / $(get "$1" max "$2") (n $n; $(get "$1" statuses "$2"))"
}
# "met" when VALUE is a number no greater than LIMIT.
le() { awk -v v="$1" -v l="$2" 'BEGIN { print (v ~ /^[0-9.]+$/ && v + 0 <= l + 0) ? "met" : "MISSED" }'; }
both() { [ "$1" = met ] && [ "$2" = met ] && echo met || echo MISSED; }

# Marks the service log's end, then prints what was written after the mark
# (the rotated file included, should the log rotate in between).
log_mark() { mark_file=$(log_of "$1"); mark_inode=$(stat -c %i "$mark_file"); mark_size=$(stat -c %s "$mark_file"); }
log_since() {
  if [ "$(stat -c %i "$mark_file")" = "$mark_inode" ]; then
    tail -c +"$((mark_size + 1))" "$mark_file"
  else
    tail -c +"$((mark_size + 1))" "$mark_file.1" 2>/dev/null || true
    cat "$mark_file"
  fi
}
# Instances that found the lock taken, and instances that started, since the mark.
second_instances() { log_since | grep -c 'another instance holds the lock' || true; }
new_instances() { log_since | grep -c ' starting, pid ' || true; }

# `ruvo lookup RAG` against a folder: sets ruvo_ms and ruvo_rc.
timed_ruvo() {
  local t0 t1
  t0=$(date +%s%N)
  ruvo_rc=0
  APPDATA="$1" "$build/ruvo" lookup RAG >/dev/null 2>"$work/ruvo.err" || ruvo_rc=$?
  t1=$(date +%s%N)
  ruvo_ms=$(((t1 - t0) / 1000000))
}

# Rows are kept with their section's number and printed in that order, as
# the sections run in the order that spares the measurements each other's
# after-effects (memory before the import, say). 3 and 4 are measured during
# 1 and stay beside the request they ran with.
rows=""
row() { rows+="$(sed 's/^[34]\./1./; s/^\([0-9]*\)\..*/\1/; s/^quiet.*/0/' <<<"$1")"$'\t'"| $1 | $2 | $3 | $4 |"$'\n'; }

load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- stores ----
log "generating $terms entries"
node "$bench/tools/gen_terms.mjs" "$terms" >"$work/terms.jsonl"
import_store() {  # folder file
  folders+=("$1")
  mkdir -p "$1"
  APPDATA="$1" "$build/ruvo-gui.exe" --import "$2" >/dev/null
}
start_service() {  # folder
  APPDATA="$1" "$build/ruvo" health >/dev/null
}
log "importing $terms entries"
big="$work/big"
import_store "$big" "$work/terms.jsonl"
start_service "$big"
if [ "$search_terms" -lt "$terms" ]; then
  # The generator's first N entries are the file of N entries.
  log "importing $search_terms entries for the searches"
  head -n "$search_terms" "$work/terms.jsonl" >"$work/search.jsonl"
  searched="$work/searched"
  import_store "$searched" "$work/search.jsonl"
  start_service "$searched"
else
  searched=$big
fi

lookup_rq=(-r POST /v1/lookup '{"text":"RAG"}')
health_rq=(-r GET /v1/health '')

# ---- quiet ----
quiet() {  # folder label
  log "quiet lookups and health ($2)"
  load "$1" 2 "$cap" -g lookup 1 5 0 0 "${lookup_rq[@]}" >"$work/quiet-lookup"
  load "$1" 2 "$cap" -g health 1 5 0 0 "${health_rq[@]}" >"$work/quiet-health"
  row "quiet, $2: lookups and health one at a time, p50 / p95 / max ms" \
    "lookup $(spread lookup "$work/quiet-lookup"); health $(spread health "$work/quiet-health")" "(reference)" ""
  if [ "$1" = "$searched" ]; then quiet_health_p95=$(get health p95 "$work/quiet-health"); fi
}
quiet "$searched" "$search_terms entries"
[ "$searched" = "$big" ] || quiet "$big" "$terms entries"

# ---- 1, 3, 4: one hostile request at a time, back to back ----
node -e 'process.stdout.write("s ".repeat(300).trim())' >"$work/q-same"
node -e '
  const w = [];
  for (let i = 0; i < 26; i++) w.push(String.fromCharCode(97 + i));
  for (let i = 0; w.length < 300; i++) w.push(String.fromCharCode(97 + Math.floor(i / 26)) + String.fromCharCode(97 + (i % 26)));
  process.stdout.write(w.join(" "));' >"$work/q-distinct"
node -e 'let t = ""; for (let i = 0; i < 20000; i++) t += String.fromCodePoint(0x4e00 + i);
  process.stdout.write(JSON.stringify({ text: t }));' >"$work/cjk.json"
search_path() { echo "/v1/terms?q=$(node -e 'process.stdout.write(encodeURIComponent(require("fs").readFileSync(process.argv[1], "utf8")))' "$1")&limit=20"; }

# Runs the hostile request back to back for the window, with lookups and
# health every 10 ms from half a second in; with "ruvo", also `ruvo lookup
# RAG` a second in, the window lasting until it has ended.
hostile_window() {  # label out with_ruvo request...
  local label=$1 out=$2 with_ruvo=$3
  shift 3
  log "1. $label, ${window}s"
  # A plain command, not the function load: $! must be the driver itself.
  "$tools/hostile_load" "$(explain_of "$searched")" run 3600 "$cap" -g hog 1 0 0 0 "$@" \
    -g lookup 1 10 500 0 "${lookup_rq[@]}" -g health 1 10 500 0 "${health_rq[@]}" >"$out" &
  local driver=$!
  bg+=("$driver")
  local t0
  t0=$(date +%s)
  if [ "$with_ruvo" = ruvo ]; then
    sleep 1
    log "3. ruvo lookup RAG while the store is busy"
    log_mark "$searched"
    timed_ruvo "$searched"
    sleep 1 # a second instance logs just after ruvo gives up on it
    second=$(second_instances)
    started=$(new_instances)
  fi
  local left=$((t0 + window - $(date +%s)))
  [ "$left" -le 0 ] || sleep "$left"
  stop_bg "$driver"
}
hostile_rows() {  # label out
  local what="$1" out=$2
  local lookup_p95 health_p50
  lookup_p95=$(get lookup p95 "$out")
  health_p50=$(get health p50 "$out")
  row "1. $what ($search_terms entries), back to back for ${window} s: each one, p50 / p95 / max ms; said \"partial\"" \
    "$(spread hog "$out"); partial $(get hog partial "$out") of $(get hog n "$out")" "a time budget, \"partial\": true when it runs out" ""
  row "1. lookups meanwhile, p50 / p95 / max ms" "$(spread lookup "$out")" "p95 ≤ 50 ms" "$(le "$lookup_p95" 50)"
  row "4. health meanwhile, p50 / p95 / max ms (the whole exchange, connect included)" "$(spread health "$out")" \
    "well under 1 ms at the service: exchange p50 ≤ 1 ms (quiet p95 here: $quiet_health_p95)" "$(le "$health_p50" 1)"
}
hostile_window "300 × \"s\"" "$work/w-same" ruvo -r GET "$(search_path "$work/q-same")" ''
hostile_rows "search of 300 one-letter words \"s s s …\"" "$work/w-same"
row "3. \`ruvo lookup RAG\` during it: wall ms, exit code" "$ruvo_ms, exit $ruvo_rc$( [ "$ruvo_rc" = 0 ] || printf ' (%s)' "$(head -c 100 "$work/ruvo.err" | tr '\n|' '  ')")" \
  "≤ 10,000 ms (its bound)" "$(le "$ruvo_ms" 10000)"
row "3. second service instances it started: found the lock taken / started anew (service log)" "$second / $started" "0 / 0" \
  "$( [ "$second" = 0 ] && [ "$started" = 0 ] && echo met || echo MISSED)"
hostile_window "300 distinct words" "$work/w-distinct" no -r GET "$(search_path "$work/q-distinct")" ''
hostile_rows "search of 300 distinct words of one and two letters" "$work/w-distinct"
hostile_window "20,000 distinct Chinese characters" "$work/w-cjk" no -r POST /v1/lookup "@$work/cjk.json"
hostile_rows "lookup of 20,000 distinct Chinese characters (60 KB)" "$work/w-cjk"
[ "$searched" = "$big" ] || "$bench/lib/stop_service.sh" "$searched"

svc=$(service_pid "$big")

# ---- 7: suggestions ----
# A Latin and a Chinese name from about two thirds into the file.
at=$((terms * 654321 / 1000000))
name_at() {  # line lang
  awk -v at="$1" -v lang="\"lang\":\"$2\"" 'NR >= at && index($0, lang) { print; exit }' "$work/terms.jsonl" |
    sed 's/.*"term":"\([^"]*\)".*/\1/'
}
latin=$(name_at "$at" en)
han=$(name_at "$at" zh)
texts=("${latin}0" "${latin}1" "${latin}x" "${latin:0:2}${latin:3:1}${latin:2:1}${latin:4}" "${latin:0:3}${latin:4}"
  "鲸${han:1}")
notes=("stored name + \"0\"" "stored name + \"1\"" "stored name + \"x\"" "misspelt: two letters swapped" "misspelt: a letter dropped"
  "misspelt: a character changed")
for i in "${!texts[@]}"; do
  log "7. suggestions for ${texts[$i]}"
  load "$big" 3600 "$cap" -g s 1 0 0 "$rounds" -r POST /v1/lookup "{\"text\":\"${texts[$i]}\"}" >"$work/suggest-$i"
  med=$(get s p50 "$work/suggest-$i")
  row "7. suggestions for \`${texts[$i]}\` (${notes[$i]}; stored \`$( [ "$i" = 5 ] && echo "$han" || echo "$latin")\`), $terms entries: median / max ms of $rounds" \
    "$med / $(get s max "$work/suggest-$i") ($(get s statuses "$work/suggest-$i"))" "median ≤ 50 ms (on 1,000,000)" "$(le "$med" 50)"
done

# ---- 2: 8 clients searching common words ----
common=(model data vector search index token layer agent 数据 模型)
search_rqs=()
for q in "${common[@]}"; do
  search_rqs+=(-r GET "/v1/terms?q=$(node -e 'process.stdout.write(encodeURIComponent(process.argv[1]))' "$q")&limit=20" '')
done
log "2. 8 clients searching without pause, ${window}s"
load "$big" "$window" "$cap" -g search 8 0 0 0 "${search_rqs[@]}" -g lookup 1 10 500 0 "${lookup_rq[@]}" >"$work/clients"
row "2. lookups while 8 clients search common words without pause ($terms entries, ${window} s), p50 / p95 / max ms" \
  "$(spread lookup "$work/clients")" "p95 ≤ 50 ms" "$(le "$(get lookup p95 "$work/clients")" 50)"
row "2. the 8 clients' searches, p50 / p95 / max ms" "$(spread search "$work/clients")" "(reference)" ""

# ---- 6: memory ----
# Holds connections with the driver until "ready", measures, lets go.
held_window() {  # out, then the hold arguments
  local out=$1
  shift
  "$tools/hostile_load" "$(explain_of "$big")" hold "$@" >"$out" &
  holder=$!
  bg+=("$holder")
  for _ in $(seq 1 1200); do
    grep -qs '^ready' "$out" && break
    kill -0 "$holder" 2>/dev/null || break
    sleep 0.25
  done
  sleep 1
}
rss_before=$(kib "$svc" VmRSS)
log "6. $exports exports opened and left unread"
held_window "$work/exports" export "$exports"
rss_during=$(kib "$svc" VmRSS)
load "$big" 5 "$cap" -g lookup 1 10 0 0 "${lookup_rq[@]}" >"$work/export-lookups"
rss_during2=$(kib "$svc" VmRSS)
[ "$rss_during2" -gt "$rss_during" ] && rss_during=$rss_during2
hwm_during=$(kib "$svc" VmHWM)
stop_bg "$holder"
sleep 2
rss_after=$(kib "$svc" VmRSS)
export_heads=$(sed -n 's/^held [0-9]* statuses \([^ ]*\).*/\1/p' "$work/exports")
row "6. $exports exports opened and left unread ($terms entries): service VmRSS MiB before / during / after closing; VmHWM during" \
  "$(mib "$rss_before") / $(mib "$rss_during") / $(mib "$rss_after"); $(mib "$hwm_during") (heads: $export_heads)" "≤ 256 MiB" \
  "$(le "$(mib "$hwm_during")" 256)"
row "6. lookups meanwhile, p50 / p95 / max ms" "$(spread lookup "$work/export-lookups")" "unaffected: p95 ≤ 50 ms" \
  "$(le "$(get lookup p95 "$work/export-lookups")" 50)"

rss_before=$(kib "$svc" VmRSS)
log "6. $uploads uploads of $upload_mib MiB held one byte short"
held_window "$work/uploads" upload "$uploads" "$((upload_mib * 1048576))"
rss_during=$(kib "$svc" VmRSS)
load "$big" 3 "$cap" -g lookup 1 10 0 0 "${lookup_rq[@]}" >"$work/upload-lookups"
rss_during2=$(kib "$svc" VmRSS)
[ "$rss_during2" -gt "$rss_during" ] && rss_during=$rss_during2
stop_bg "$holder"
sleep 2
rss_after=$(kib "$svc" VmRSS)
uploaded=$(sed -n 's/^held [0-9]* statuses \([^ ]*\) sent_mib \([0-9.]*\).*/\1, \2 MiB sent/p' "$work/uploads")
row "6. $uploads uploads declaring $upload_mib MiB, held one byte short: service VmRSS MiB before / during / after closing" \
  "$(mib "$rss_before") / $(mib "$rss_during") / $(mib "$rss_after") (uploads: $uploaded)" \
  "imports in flight bounded; ≤ 256 MiB (the export figure, applied here)" "$(le "$(mib "$rss_during")" 256)"
row "6. lookups meanwhile, p50 / p95 / max ms" "$(spread lookup "$work/upload-lookups")" "p95 ≤ 50 ms" \
  "$(le "$(get lookup p95 "$work/upload-lookups")" 50)"

# ---- 8: an unauthenticated flood ----
port=$(sed -n 's/.*"port": *\([0-9][0-9]*\).*/\1/p' "$(explain_of "$big")")
log "8. $flood idle connections without a token"
"$tools/siege" "$port" "$flood" 0 0 3600 >/dev/null &
siege=$!
bg+=("$siege")
sleep 3
held_fds=$(find "/proc/$svc/fd" -mindepth 1 2>/dev/null | wc -l)
log_mark "$big"
flood_ruvo=() flood_worst=0 flood_failed=0 flood_said=""
for _ in 1 2 3; do
  timed_ruvo "$big"
  flood_ruvo+=("${ruvo_ms} ms exit ${ruvo_rc}")
  [ "$ruvo_rc" = 0 ] || [ -n "$flood_said" ] || flood_said=$(head -c 100 "$work/ruvo.err" | tr '\n|' '  ')
  [ "$ruvo_ms" -gt "$flood_worst" ] && flood_worst=$ruvo_ms
  [ "$ruvo_rc" = 0 ] || flood_failed=$((flood_failed + 1))
done
load "$big" 5 15 -g lookup 1 10 0 0 "${lookup_rq[@]}" >"$work/flood-lookups"
sleep 1
flood_second=$(second_instances)
stop_bg "$siege"
flood_n=$(get lookup n "$work/flood-lookups")
flood_ok=$(get lookup ok "$work/flood-lookups")
row "8. \`ruvo lookup RAG\` ×3 under $flood idle connections without a token (the service held $held_fds files)" \
  "$(IFS=';'; echo "${flood_ruvo[*]}" | sed 's/;/; /g')${flood_said:+ (said: $flood_said)}; second instances: $flood_second" "gets through, ≤ 10,000 ms, no second instance" \
  "$( [ "$flood_failed" = 0 ] && [ "$flood_worst" -le 10000 ] && [ "$flood_second" = 0 ] && echo met || echo MISSED)"
row "8. token-carrying lookups meanwhile (5 s): got through, p50 / p95 / max ms" "$flood_ok of $flood_n; $(spread lookup "$work/flood-lookups")" \
  "all get through" "$( [ "${flood_n:-0}" -gt 0 ] && [ "$flood_ok" = "$flood_n" ] && echo met || echo MISSED)"
sleep 2

# ---- 5: saves during an import ----
log "5. an import of $import_terms entries with lookups and 3 saving clients"
node "$bench/tools/gen_terms.mjs" "$import_terms" | sed 's/"term":"/"term":"hostile /' >"$work/import.jsonl"
import_mib=$(awk -v b="$(stat -c %s "$work/import.jsonl")" 'BEGIN { printf "%.0f", b / 1048576 }')
save_rqs=()
for i in $(seq 1 60); do
  save_rqs+=(-r POST /v1/save "{\"term\":\"hostile save $i\",\"fields\":{\"definition\":\"saved during an import\"}}")
done
load "$big" 3600 "$cap" -g import 1 0 0 1 -r POST /v1/import "@$work/import.jsonl" -g lookup 1 10 300 0 "${lookup_rq[@]}" \
  -g save 3 200 300 0 "${save_rqs[@]}" >"$work/import"
save_statuses=$(get save statuses "$work/import")
save_bad=$(awk -v s="$save_statuses" 'BEGIN { n = split(s, a, ","); bad = 0
  for (i = 1; i <= n; i++) { split(a[i], kv, ":"); if (kv[1] != "200" && kv[1] != "503/busy") bad += kv[2] } print bad }')
row "5. POST /v1/import of $import_terms entries ($import_mib MiB) into $terms: ms, status" \
  "$(get import max "$work/import"), $(get import statuses "$work/import")" "(reference)" ""
row "5. lookups meanwhile, p50 / p95 / max ms" "$(spread lookup "$work/import")" "p95 ≤ 50 ms" "$(le "$(get lookup p95 "$work/import")" 50)"
save_each=$(each save "$work/import")
row "5. saves meanwhile (3 clients): statuses; replies naming \"database is locked\"; p50 / max ms; each (status:ms)" \
  "$save_statuses; $(get save locked "$work/import"); $(get save p50 "$work/import") / $(get save max "$work/import"); ${save_each:-(more than 40)}" \
  "200 or 503 busy, never 500" "$( [ "$(get save n "$work/import")" != 0 ] && [ -n "$(get save n "$work/import")" ] && [ "$save_bad" = 0 ] && echo met || echo MISSED)"

load_after=$(cut -d' ' -f1-3 /proc/loadavg)
cpu_name=$(awk -F': ' '/model name/ { print $2; exit }' /proc/cpuinfo)
{
  echo "Machine: $cpu_name, $(nproc) cores, $(uname -sr). Load average (1, 5, 15 min): $load_before before, $load_after after."
  echo "Stores: $terms generated entries (1. to 4.: $search_terms). Windows of $window s; an exchange gives up after $cap s."
  echo
  echo "| Measurement | figure | goal | met? |"
  echo "|---|---|---|---|"
  printf '%s' "$rows" | sort -s -n -k1,1 | cut -f2-
} | tee "$build/hostile-results.md"
