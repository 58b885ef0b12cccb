#!/usr/bin/env bash
# The Debian package as a person gets it: its layout, its Depends, and an
# install into a throw-away root (dpkg --root), from which `ruvo version`,
# `ruvo explain RAG` (starting ruvo-gui.exe from /usr/lib/ruvo) and
# `man -l` of both pages work, and a purge that leaves nothing behind.
# Runs as root (dpkg --root needs it), as CI does.
#   tests/package/deb_test.sh <ruvo_<version>_<arch>.deb>
set -euo pipefail
deb=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
here=$(cd "$(dirname "$0")" && pwd)
source_root=$(cd "$here/../.." && pwd)
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

work=$(mktemp -d /tmp/ruvo-deb-test.XXXXXX)
target=$work/root
appdata=$work/appdata
mkdir -p "$target" "$appdata"
service_pid=""
cleanup() {
  if [ -n "$service_pid" ]; then kill -KILL "$service_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# ---- layout ---------------------------------------------------------------------
# Every entry but the folders: type and mode, owner, path and link target.
listing=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $1, $2, $6, $7, $8 }' | sort -k3)
expected=$(sort -k3 <<'EOF_LAYOUT'
lrwxrwxrwx root/root /usr/bin/ruvo -> ../lib/ruvo/ruvo
lrwxrwxrwx root/root /usr/bin/ruvo-gui -> ../lib/ruvo/ruvo-gui.exe
-rwxr-xr-x root/root /usr/lib/ruvo/ruvo  
-rwxr-xr-x root/root /usr/lib/ruvo/ruvo-gui.exe  
-rw-r--r-- root/root /usr/share/applications/ruvo.desktop  
-rw-r--r-- root/root /usr/share/bash-completion/completions/ruvo  
-rw-r--r-- root/root /usr/share/doc/ruvo/changelog.gz  
-rw-r--r-- root/root /usr/share/doc/ruvo/copyright  
-rw-r--r-- root/root /usr/share/icons/hicolor/scalable/apps/ruvo.svg  
-rw-r--r-- root/root /usr/share/man/man1/ruvo-gui.1.gz  
-rw-r--r-- root/root /usr/share/lintian/overrides/ruvo  
-rw-r--r-- root/root /usr/share/man/man1/ruvo.1.gz  
EOF_LAYOUT
)
[ "$listing" = "$expected" ] || fail "dpkg-deb -c shows:
$listing
expected:
$expected"

# ---- control fields -------------------------------------------------------------
[ "$(dpkg-deb -f "$deb" Package)" = ruvo ] || fail "Package is $(dpkg-deb -f "$deb" Package)"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libc6 libsqlite3-0 libcurl4 libmicrohttpd12; do
  grep -q "\b$library\b" <<<"$depends" || fail "Depends ($depends) lacks $library"
done
recommends=$(dpkg-deb -f "$deb" Recommends)
for dictionary in dict-foldoc dict-vera dict-jargon; do
  grep -q "\b$dictionary\b" <<<"$recommends" || fail "Recommends ($recommends) lacks $dictionary"
done
# Every dependency is one this Debian has installed, in a version that does.
if ! dpkg-checkbuilddeps -d "$depends" /dev/null 2>"$work/deps.err"; then
  fail "Depends not met here: $(cat "$work/deps.err")"
fi

# ---- install into a throw-away root ---------------------------------------------
mkdir -p "$target/var/lib/dpkg/info" "$target/var/lib/dpkg/updates"
: >"$target/var/lib/dpkg/status"
# What is in the root, but dpkg's own records.
tree() { (cd "$target" && find . -path ./var/lib/dpkg -prune -o -print | sort); }
before=$(tree)
# The root holds no libc6 and no libraries: their absence is not a fault of
# the package (checked above against this machine instead). A path-exclude
# of the host's dpkg configuration (minimal images drop manual pages) must
# not apply to the throw-away root either.
dpkg_root() { dpkg --root="$target" --log=/dev/null --force-depends --path-include='*' "$@"; }
if ! dpkg_root -i "$deb" >"$work/install.log" 2>&1; then
  cat "$work/install.log" >&2
  fail "dpkg -i into $target failed"
fi

ruvo=$target/usr/bin/ruvo
run_env=(env -i PATH=/usr/bin:/bin LC_ALL=C.UTF-8 APPDATA="$appdata")
version=$("${run_env[@]}" "$ruvo" version) || fail "ruvo version exited $?"
[ "$version" = "ruvo $(dpkg-deb -f "$deb" Version)" ] || fail "ruvo version says '$version'"

# The glossary holds RAG: a local hit, no model needed.
if explained=$("${run_env[@]}" "$ruvo" explain RAG 2>"$work/explain.err"); then
  [ "${explained#RAG（local）}" != "$explained" ] || fail "ruvo explain RAG printed: $explained"
else
  fail "ruvo explain RAG failed: $(cat "$work/explain.err")"
fi
# "<date> <time> ruvo-gui <version> starting, pid N" begins the service's log.
service_pid=$(sed -n 's/^[0-9-]* [0-9:]* ruvo-gui [^ ]* starting, pid \([0-9]*\).*/\1/p' \
  "$appdata/com.corvanta.desktop/ruvo-gui.log" 2>/dev/null | tail -n 1 || true)
if [ -z "$service_pid" ] || [ ! -e "/proc/$service_pid" ]; then
  fail "no running service named by $appdata/com.corvanta.desktop/ruvo-gui.log"
  service_pid=""
else
  started=$(readlink "/proc/$service_pid/exe")
  [ "$started" = "$target/usr/lib/ruvo/ruvo-gui.exe" ] || fail "ruvo started $started"
  kill -TERM "$service_pid"
  for _ in $(seq 100); do [ -e "/proc/$service_pid" ] || break; sleep 0.1; done
  [ -e "/proc/$service_pid" ] && fail "the service did not stop on SIGTERM"
  service_pid=""
fi

for page in ruvo ruvo-gui; do
  file=$target/usr/share/man/man1/$page.1.gz
  if ! LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" >"$work/$page.txt" 2>"$work/$page.err"; then
    fail "man -l $page.1.gz failed: $(cat "$work/$page.err")"
  elif [ -s "$work/$page.err" ]; then
    fail "man -l $page.1.gz warns: $(cat "$work/$page.err")"
  fi
  grep -q "^NAME" "$work/$page.txt" || fail "man -l $page.1.gz shows no NAME section"
done
grep -q "ruvo explain" "$work/ruvo.txt" || fail "ruvo(1) does not show ruvo explain"
grep -q "\-\-service" "$work/ruvo-gui.txt" || fail "ruvo-gui(1) does not show --service"

cmp -s "$target/usr/share/bash-completion/completions/ruvo" "$source_root/packaging/linux/ruvo.bash-completion" ||
  fail "the installed completion is not the tree's"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$target/usr/share/applications/ruvo.desktop" || fail "desktop-file-validate ruvo.desktop"
fi

# ---- purge ------------------------------------------------------------------------
dpkg_root --purge ruvo >"$work/purge.log" 2>&1 || { cat "$work/purge.log" >&2; fail "dpkg --purge failed"; }
after=$(tree)
[ "$after" = "$before" ] || fail "left after the purge: $(comm -13 <(echo "$before") <(echo "$after") | tr '\n' ' ')"
leftovers=$(find "$target/var/lib/dpkg" -name 'ruvo*' | tr '\n' ' ')
[ -z "$leftovers" ] || fail "dpkg still knows of: $leftovers"

if [ "$failures" -gt 0 ]; then
  echo "$failures failures" >&2
  exit 1
fi
echo "the package installs, runs, shows its manual pages and purges cleanly"
