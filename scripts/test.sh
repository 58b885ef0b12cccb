#!/usr/bin/env bash
# Every test on a fresh machine: installs what is missing, builds with warnings
# as errors, runs the suite, runs it again under AddressSanitizer and
# UndefinedBehaviorSanitizer, builds the Debian package and installs it into
# a throw-away root (as root, which CI is), and runs the process tests
# against the Windows build under Wine.
#   RUVO_SKIP_DEB=1    leave out the Debian package
#   RUVO_SKIP_ASAN=1   leave out the sanitizer pass
#   RUVO_SKIP_WINE=1   leave out the Windows pass
#   RUVO_SKIP_FUZZ=1   leave out the short fuzzing pass
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)

"$root/scripts/install-deps.sh"

if [ -f "$root/tests/interop/package-lock.json" ]; then
  echo "== MCP client for the interop test (npm ci)"
  (cd "$root/tests/interop" && npm ci --no-audit --no-fund --loglevel=error)
fi
if [ -f "$root/tests/browser/package-lock.json" ]; then
  echo "== playwright-core for the browser test (npm ci; it drives Debian's chromium and downloads no browser)"
  (cd "$root/tests/browser" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)
fi

echo "== build (warnings are errors)"
RUVO_BUILD_DIR="$root/build" RUVO_WERROR=ON "$root/scripts/build.sh"
echo "== tests"
(cd "$root/build" && ctest -j"$jobs" --output-on-failure --timeout 600)

if [ "${RUVO_SKIP_DEB:-0}" != 1 ]; then
  echo "== Debian package, checked by lintian and installed into a throw-away root"
  # From the build just tested: the same settings, so nothing is rebuilt.
  deb=$(RUVO_BUILD_DIR="$root/build" RUVO_BUILD_TYPE=RelWithDebInfo RUVO_WERROR=ON "$root/scripts/package-deb.sh" |
    tail -n 1)
  "$root/tests/package/deb_test.sh" "$deb"
fi

if [ "${RUVO_SKIP_ASAN:-0}" != 1 ]; then
  echo "== sanitizer build (AddressSanitizer, UndefinedBehaviorSanitizer)"
  RUVO_BUILD_DIR="$root/build-asan" RUVO_BUILD_TYPE=Debug RUVO_WERROR=ON "$root/scripts/build.sh" -DRUVO_SANITIZE=ON
  echo "== tests under the sanitizers"
  (cd "$root/build-asan" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest -j"$jobs" --output-on-failure --timeout 900)
fi

if [ "${RUVO_SKIP_FUZZ:-0}" != 1 ]; then
  echo "== fuzz targets, a bounded number of runs each"
  RUVO_FUZZ_RUNS=${RUVO_FUZZ_RUNS:-20000} "$root/scripts/fuzz.sh"
fi

if [ "${RUVO_SKIP_WINE:-0}" != 1 ] && [ -x "$root/scripts/test-windows.sh" ]; then
  echo "== Windows build under Wine"
  "$root/scripts/test-windows.sh"
fi
echo "== all tests passed"
