#!/usr/bin/env bash
# The main job on a fresh machine: install, build, and have ruvo explain RAG.
# ruvo starts the local term service (ruvo-gui.exe, built beside it) itself.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh" --build
# Only the two programs: the main job runs no test.
RUVO_BUILD_TYPE=Release RUVO_TARGETS="ruvo ruvo_gui" "$root/scripts/build.sh"
exec "$root/build/ruvo" explain "${@:-RAG}"
