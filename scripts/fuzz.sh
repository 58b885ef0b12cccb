#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded number of
# executions (RUVO_FUZZ_RUNS, default 20000) from its committed seed corpus.
# A longer run: RUVO_FUZZ_RUNS=1000000 scripts/fuzz.sh, or bench/fuzz-long.sh.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${RUVO_FUZZ_DIR:-$root/build-fuzz}
runs=${RUVO_FUZZ_RUNS:-20000}
RUVO_WITH_FUZZ=1 "$root/scripts/install-deps.sh"
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUVO_FUZZ=ON \
  -DRUVO_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)"
# A crashing input is kept here, named after its target.
artefacts="$dir/fuzz-artefacts"
mkdir -p "$artefacts"
status=0
for target in "$dir"/fuzz/fuzz_*; do
  name=$(basename "$target"); name=${name#fuzz_}
  corpus="$root/tests/fuzz/corpus/$name"
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  echo "== fuzz $name: $runs runs"
  if ! "$target" -runs="$runs" -max_len="${RUVO_FUZZ_MAX_LEN:-65536}" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artefacts/$name-" "$work" 2>"$work.log"; then
    tail -n 40 "$work.log"
    echo "reproduce with: $target <the input named above under $artefacts>"
    status=1
  else
    grep -E 'stat::number_of_executed_units|Done' "$work.log" | tail -n 2
  fi
  rm -rf "$work" "$work.log"
done
exit $status
