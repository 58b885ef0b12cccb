#!/usr/bin/env bash
# The browser interface on a big store: a generated dictionary (1,000,000
# entries unless RUVO_UI_TERMS says otherwise) imported with
# `ruvo-gui.exe --import`, a service started by `ruvo-gui.exe --url`, and
# Debian's chromium, headless, driven by playwright-core. Prints the time
# from opening a sign-in address to a usable page (search field and first
# results on screen), and search-as-you-type: from a keystroke to its results
# on screen, beside the service's own time for the same searches.
#
#   bench/ui.sh                         full run (about 4 minutes once built)
#   RUVO_BENCH_QUICK=1 bench/ui.sh      fewer repetitions
#   RUVO_UI_TERMS=<n>                   the store's size (default 1000000)
#   RUVO_BENCH_BUILD=<dir>              build folder (default build-bench)
#
# Everything listens on 127.0.0.1; the service is stopped by its process id
# on the way out. The table is also written to <build>/ui-results.md.
set -euo pipefail
# A benchmark's store holds only what the benchmark puts there, none of this machine's dictionaries.
export RUVO_DICTIONARY_DIRS=
root=$(cd "$(dirname "$0")/.." && pwd)
bench="$root/bench"
build=${RUVO_BENCH_BUILD:-$root/build-bench}
terms=${RUVO_UI_TERMS:-1000000}
quick=${RUVO_BENCH_QUICK:-0}
if [ "$quick" = 1 ]; then LOADS=5 ROUNDS=2; else LOADS=20 ROUNDS=5; fi

log() { printf '== %s\n' "$*" >&2; }
for tool in node cmake; do
  command -v "$tool" >/dev/null || { echo "ui.sh needs $tool (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
chromium=$(command -v chromium || true)
[ -n "$chromium" ] || { echo "ui.sh needs Debian's chromium (scripts/install-deps.sh installs it)" >&2; exit 1; }
if [ ! -d "$root/tests/browser/node_modules/playwright-core" ]; then
  log "npm ci in tests/browser (playwright-core; no browser is downloaded)"
  (cd "$root/tests/browser" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
fi

log "building Release ruvo and ruvo-gui.exe in $build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j"$(nproc)" --target ruvo ruvo_gui >/dev/null
gui="$build/ruvo-gui.exe"

work=$(mktemp -d /tmp/ruvo-ui-bench.XXXXXX)
cleanup() {
  "$bench/lib/stop_service.sh" "$work/appdata"
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/appdata"
export APPDATA="$work/appdata"

log "generating $terms entries"
node "$bench/tools/gen_terms.mjs" "$terms" >"$work/terms.jsonl"
log "importing them with ruvo-gui.exe --import"
start=$(date +%s%N)
"$gui" --import "$work/terms.jsonl" >/dev/null
import_ms=$(( ($(date +%s%N) - start) / 1000000 ))
log "starting the service (ruvo-gui.exe --url) and chromium"
"$gui" --url >/dev/null

results="$build/ui-results.md"
PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 NODE_PATH="$root/tests/browser/node_modules" \
  node "$bench/tools/ui_drive.mjs" "$gui" "$chromium" "$terms" "$LOADS" "$ROUNDS" | tee "$results"
printf '\nimport of %s entries: %s ms; load average: %s\n' "$terms" "$import_ms" "$(cut -d' ' -f1-3 /proc/loadavg)" | tee -a "$results"
