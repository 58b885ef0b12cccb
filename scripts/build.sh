#!/usr/bin/env bash
# Configures and builds ruvo and ruvo-gui.exe into build/ (or $RUVO_BUILD_DIR).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${RUVO_BUILD_DIR:-$root/build}
cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=${RUVO_BUILD_TYPE:-RelWithDebInfo} \
  -DRUVO_WERROR=${RUVO_WERROR:-OFF} "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
