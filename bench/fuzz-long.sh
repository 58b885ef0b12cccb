#!/usr/bin/env bash
# A long fuzzing session: builds the libFuzzer targets like scripts/fuzz.sh,
# then runs them one after the other (the machine's cores are shared), each
# for RUVO_FUZZ_RUNS executions (default 1,000,000) or, when
# RUVO_FUZZ_SECONDS is set, for that many seconds. The corpus each target
# grows is kept in $RUVO_FUZZ_OUT/corpus/<name> and used again by the next
# session; it starts from the committed seeds in tests/fuzz/corpus/<name>.
# A crash leaves its input in $RUVO_FUZZ_OUT/crashes/<name>/ together with a
# minimized copy (<input>.min), and the reproducer command is printed.
# Prints one line per target: executions, seconds, executions per second.
#   bench/fuzz-long.sh                 every target
#   bench/fuzz-long.sh words mcp_line  only these
set -euo pipefail
# A benchmark's store holds only what the benchmark puts there, none of this machine's dictionaries.
export RUVO_DICTIONARY_DIRS=
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${RUVO_FUZZ_DIR:-$root/build-fuzz}
out=${RUVO_FUZZ_OUT:-$dir/fuzz-long}
runs=${RUVO_FUZZ_RUNS:-1000000}
seconds=${RUVO_FUZZ_SECONDS:-}
max_len=${RUVO_FUZZ_MAX_LEN:-65536}

if [ "${RUVO_FUZZ_SKIP_BUILD:-0}" != 1 ]; then
  RUVO_WITH_FUZZ=1 "$root/scripts/install-deps.sh"
  CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRUVO_FUZZ=ON \
    -DRUVO_BUILD_TESTS=OFF >/dev/null
  cmake --build "$dir" -j"$(nproc)" >/dev/null
fi

if [ $# -gt 0 ]; then
  targets=()
  for name in "$@"; do targets+=("$dir/fuzz/fuzz_$name"); done
else
  targets=("$dir"/fuzz/fuzz_*)
fi

limit=(-runs="$runs")
if [ -n "$seconds" ]; then limit=(-max_total_time="$seconds"); fi

summary=()
status=0
for target in "${targets[@]}"; do
  name=$(basename "$target"); name=${name#fuzz_}
  [ -x "$target" ] || { echo "no fuzz target $name in $dir/fuzz" >&2; exit 2; }
  corpus="$out/corpus/$name"
  crashes="$out/crashes/$name"
  log="$out/$name.log"
  mkdir -p "$corpus" "$crashes"
  seeds="$root/tests/fuzz/corpus/$name"
  if [ -d "$seeds" ]; then cp -rn "$seeds"/. "$corpus"/; fi
  echo "== fuzz $name: ${seconds:+$seconds s}${seconds:-$runs runs}"
  start=$(date +%s.%N)
  result=ok
  if ! "$target" "${limit[@]}" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$crashes/" "$corpus" 2>"$log"; then
    result=FAILED
    status=1
  fi
  end=$(date +%s.%N)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  elapsed=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.0f", b - a }')
  rate=$(awk -v n="${execs:-0}" -v s="$elapsed" 'BEGIN { printf "%.0f", (s > 0 ? n / s : 0) }')
  units=$(find "$corpus" -type f | wc -l)
  summary+=("$(printf '%-26s %-7s %12s execs %7s s %9s execs/s %7s corpus files' \
    "$name" "$result" "${execs:-?}" "$elapsed" "$rate" "$units")")
  if [ "$result" = FAILED ]; then
    grep -E '^(==[0-9]+==ERROR|SUMMARY|.*runtime error)' "$log" | head -n 5 || true
    for input in "$crashes"/crash-* "$crashes"/leak-* "$crashes"/timeout-* "$crashes"/oom-*; do
      [ -f "$input" ] || continue
      case "$input" in *.min) continue ;; esac
      "$target" -minimize_crash=1 -runs=200000 -exact_artifact_path="$input.min" "$input" \
        >/dev/null 2>&1 || true
      echo "   reproducer: $target $input"
      if [ -f "$input.min" ]; then echo "   minimized:  $input.min"; fi
    done
  fi
done

echo "== summary"
printf '%s\n' "${summary[@]}"
exit $status
