#!/usr/bin/env bash
# Configures and builds into build/ (or $RUVO_BUILD_DIR): everything, or only
# the targets named in $RUVO_TARGETS (e.g. "ruvo ruvo_gui"). Extra arguments go
# to the configure step.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${RUVO_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=${RUVO_BUILD_TYPE:-RelWithDebInfo} \
  -DRUVO_WERROR=${RUVO_WERROR:-OFF} "$@" >/dev/null
targets=()
for t in ${RUVO_TARGETS:-}; do targets+=(--target "$t"); done
cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
