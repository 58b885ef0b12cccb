#!/usr/bin/env bash
# The Windows archive: ruvo.exe, README.txt (Chinese and English, CR LF line
# ends, a byte-order mark for Notepad) and the licence when the tree has one,
# all in the archive's one top folder.
#   tests/package/zip_test.sh <ruvo-<version>-windows-x86_64.zip>
set -euo pipefail
zip=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
source_root=$(cd "$(dirname "$0")/../.." && pwd)
top=$(basename "$zip" .zip)
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

expected="$top/README.txt
$top/ruvo.exe"
if [ -f "$source_root/LICENSE" ]; then expected="$top/LICENSE.txt
$expected"; fi
listing=$(cmake -E tar tf "$zip" | grep -v '/$' | sort)
[ "$listing" = "$(sort <<<"$expected")" ] || fail "the archive holds:
$listing
expected:
$expected"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$zip")
[ "$(head -c 2 "$work/$top/ruvo.exe")" = MZ ] || fail "ruvo.exe is not a Windows program"
readme=$work/$top/README.txt
if [ -f "$readme" ]; then
  [ "$(head -c 3 "$readme" | od -An -tx1 | tr -d ' ')" = efbbbf ] || fail "README.txt has no byte-order mark"
  [ "$(grep -c $'\r$' "$readme")" = "$(wc -l <"$readme")" ] || fail "README.txt has lines without CR LF"
  for text in "放在哪里" "Where it goes" "cmd.exe" "PowerShell" '"args": ["mcp"]' "ruvo.exe\" mcp" \
      "ruvo $(sed -n 's/^project(ruvo VERSION \([0-9.]*\).*/\1/p' "$source_root/CMakeLists.txt")"; do
    grep -qF -- "$text" "$readme" || fail "README.txt does not say $text"
  done
  grep -q '@RUVO_' "$readme" && fail "README.txt keeps a placeholder"
fi

if [ "$failures" -gt 0 ]; then
  echo "$failures failures" >&2
  exit 1
fi
echo "the Windows archive holds what it should"
