#!/usr/bin/env bash
# Builds ruvo.exe and its ZIP, checks the archive's layout, and runs the
# process tests against ruvo.exe under Wine.
# The suite is the Linux test binary: only the program it drives changes.
#   scripts/test-windows.sh
#   RUVO_PROCESS_TESTS=<path>      the Linux ruvo_process_tests (default build/ruvo_process_tests,
#                                  made by scripts/test.sh or scripts/build.sh)
#   RUVO_TEST_FAKE_DESKTOP=<path>  the fake desktop program (default test-programs/fake_desktop
#                                  beside the test binary); Wine starts this Linux program
#                                  itself when ruvo.exe starts it
#   RUVO_WINE_FILTER=<filter>      another --gtest_filter
# Every run gets its own throw-away Wine prefix, whose server is stopped at the end.
# Skips (exit 0) only when Wine cannot be installed or cannot run programs here.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
started=$(date +%s)

skip() {
  echo "== SKIPPED the Windows pass: $*"
  exit 0
}

# --- ruvo.exe and its archive ---------------------------------------------------
echo "== ruvo.exe and its ZIP (RUVO_PACKAGE=1 scripts/build-windows.sh)"
ruvo_exe=$(RUVO_PACKAGE=1 "$root/scripts/build-windows.sh" | tail -n 1)
[ -f "$ruvo_exe" ] || { echo "the Windows build made no $ruvo_exe" >&2; exit 1; }
zip=$(ls "$(dirname "$ruvo_exe")"/ruvo-*-windows-*.zip)
"$root/tests/package/zip_test.sh" "$zip"

# --- Wine ---------------------------------------------------------------------
find_wine() {
  wine=""
  for candidate in /usr/lib/wine/wine64 "$(command -v wine64 || true)" "$(command -v wine || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then wine=$candidate; break; fi
  done
  wineserver=""
  for candidate in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver "$(command -v wineserver || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then wineserver=$candidate; break; fi
  done
}
find_wine
if [ -z "$wine" ] || [ -z "$wineserver" ]; then
  echo "== installing wine64"
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  if ! { $sudo apt-get update && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends wine64; }; then
    skip "wine64 is not installed and could not be installed"
  fi
  find_wine
  if [ -z "$wine" ] || [ -z "$wineserver" ]; then skip "no wine64 and wineserver after installing wine64"; fi
fi

# --- what the suite needs -------------------------------------------------------
process_bin=${RUVO_PROCESS_TESTS:-$root/build/ruvo_process_tests}
if [ ! -x "$process_bin" ]; then
  echo "no process test binary at $process_bin: build the Linux side first (scripts/build.sh) or set RUVO_PROCESS_TESTS" >&2
  exit 1
fi
process_bin=$(cd "$(dirname "$process_bin")" && pwd)/$(basename "$process_bin")
fake_desktop=${RUVO_TEST_FAKE_DESKTOP:-$(dirname "$process_bin")/test-programs/fake_desktop}
if [ ! -x "$fake_desktop" ]; then
  echo "no fake desktop program at $fake_desktop: build the target fake_desktop or set RUVO_TEST_FAKE_DESKTOP" >&2
  exit 1
fi


# The prefix, the shim and Wine's own files live in one temporary folder. Its
# path goes into RUVO_TEST_LAUNCHER, whose words are split at spaces, so it is
# made under /tmp rather than a $TMPDIR that might hold one.
work=$(mktemp -d /tmp/ruvo-wine.XXXXXX)
export WINEPREFIX=$work/prefix
# No debug channels; no Mono or Gecko installers when the prefix is made; no
# window system, so nothing waits for a dialog.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
# Wine turns the Unix command-line words into UTF-16 through the locale's
# character set: under C or POSIX, Chinese words arrive as garbage.
export LC_ALL=C.UTF-8

cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  "$wineserver" -w >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

for word in "$wine" "$work"; do
  case "$word" in
    *[[:space:]]*) echo "a launcher word must not hold white space: $word" >&2; exit 1 ;;
  esac
done

echo "== wine_shim.exe"
"${RUVO_MINGW_CXX:-x86_64-w64-mingw32-g++-posix}" -std=c++20 -O2 -static \
  -Wall -Wextra -Wpedantic -Wshadow -Wcast-align -Wunused -Wformat=2 -Werror -I"$root/src" \
  "$root/tests/support/wine_shim.cpp" "$root/src/platform/win_text.cpp" "$root/src/common/utf8.cpp" \
  -o "$work/wine_shim.exe"

echo "== Wine prefix $WINEPREFIX"
# Made first with a server of its own that ends with the set-up; then a
# persistent server is started here, so that no test's child ever starts one
# holding that test's pipes, and the prefix's own programs stay up between tests.
if ! "$wine" wineboot --init >"$work/wineboot.log" 2>&1; then
  cat "$work/wineboot.log" >&2
  skip "wineboot could not make a Wine prefix"
fi
"$wineserver" -w >/dev/null 2>&1 || true
"$wineserver" -p >/dev/null 2>&1 </dev/null
if ! "$wine" cmd /c exit >"$work/check.log" 2>&1 </dev/null; then
  cat "$work/check.log" >&2
  skip "Wine cannot run a Windows program here"
fi
echo "   ready after $(($(date +%s) - started)) s"

# The groups that drive the program; the fixture and in-process client tests
# have nothing of ruvo.exe in them.
filter=${RUVO_WINE_FILTER:-"Entry.*:Health.*:Launcher.*:CliLookup.*:CliExplain.*:CliHintLine.*:CliSave.*:McpServer.*:McpTools.*:McpToolsServiceDown.*:Fault*"}
echo "== process tests against $ruvo_exe"
status=0
(
  cd "$work"
  RUVO_TEST_PROGRAM="$ruvo_exe" \
  RUVO_TEST_LAUNCHER="$wine $work/wine_shim.exe" \
  RUVO_TEST_FAKE_DESKTOP="$fake_desktop" \
  "$process_bin" --gtest_filter="$filter"
) || status=$?
echo "== Windows pass finished in $(($(date +%s) - started)) s with status $status"
exit "$status"
