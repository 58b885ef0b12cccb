#!/bin/sh
# Cross-builds ruvo.exe for Windows x86-64 with mingw-w64 into build-win/ and
# prints the path of the program. Needs g++-mingw-w64-x86-64-posix and
# nlohmann-json3-dev. Extra arguments go to the configure step.
#   scripts/build-windows.sh [-DCMAKE_BUILD_TYPE=Debug ...]
# Set RUVO_PACKAGE=1 to also make the ZIP archive.
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-win"

# A cross build is the client alone: the tests and the local service are
# Linux programs, and the toolchain file leaves them out by itself.
cmake -S "$root" -B "$build" \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release \
  "$@" >&2
cmake --build "$build" -j2 --target ruvo >&2

if [ "${RUVO_PACKAGE:-0}" = 1 ]; then
  (cd "$build" && cpack >&2)
fi

echo "$build/ruvo.exe"
