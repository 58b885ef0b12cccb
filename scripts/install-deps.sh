#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the Windows build need,
# asking apt only for those that are missing. Safe to run again.
#   scripts/install-deps.sh           everything the tests need
#   scripts/install-deps.sh --build   only what building the two programs needs
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  nlohmann-json3-dev            # JsonValue
  libgtest-dev libgmock-dev     # tests (found at configure time)
  libssl-dev                    # the tests' self-signed certificates (found at configure time)
  libmicrohttpd-dev             # the local service's HTTP server; the tests' fake model endpoint
  libcurl4-openssl-dev          # the model client: proxies, the system's CA certificates, https
  libsqlite3-dev                # the local service's store
  libutf8proc-dev libopencc-dev # matching: Unicode folding, Traditional to Simplified
  libedlib-dev                  # edit distance for suggestions
  libcsv-dev                    # CSV and TSV glossaries
  zlib1g-dev                    # dictionary readers: gzip and dictzip, MDict's zlib blocks
  liblzo2-dev                   # dictionary readers: MDict's LZO blocks
  libgumbo-dev                  # dictionary readers: HTML articles to text, the sanitizer
  libcrypto++-dev               # dictionary readers: RIPEMD-128 for MDict's key index
)
if [ "${1:-}" != --build ]; then
  packages+=(
    g++-mingw-w64-x86-64-posix  # ruvo.exe
    wine64                      # running ruvo.exe in the tests
    nodejs npm                  # the MCP client interop test and the browser test
    chromium                    # the browser test (headless, driven by playwright-core)
    fonts-noto-cjk              # Chinese text in the browser test's screenshots
    curl
    wrk                         # load on the local service in the stress tests
    dpkg-dev                    # the Debian package: dpkg-shlibdeps for its Depends, dpkg-checkbuilddeps
    lintian                     # checking the Debian package
    man-db                      # man -l of the installed manual pages
    desktop-file-utils          # desktop-file-validate of the menu entry
    stardict-common dictzip     # StarDictFileFormat and dictzip(1): the formats the readers follow
    dict-foldoc dict-vera dict-jargon  # real dictd dictionaries for the checks on real data (GFDL)
  )
fi
if [ "${RUVO_WITH_BENCH:-0}" = 1 ]; then packages+=(hyperfine time linux-perf valgrind); fi
if [ "${RUVO_WITH_FUZZ:-0}" = 1 ]; then packages+=(clang-14 libfuzzer-14-dev libclang-rt-14-dev); fi

missing=()
for p in "${packages[@]}"; do
  # node and npm may come from elsewhere than Debian; a working command is enough.
  case "$p" in
    nodejs) command -v node >/dev/null 2>&1 && continue ;;
    npm) command -v npm >/dev/null 2>&1 && continue ;;
  esac
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "installing: ${missing[*]}"
  $sudo apt-get update
  # The dictionaries pull in the dictd server, which must not start (nor stay) running here: a
  # policy-rc.d that refuses every service start while apt runs, removed afterwards however apt ends.
  policy=/usr/sbin/policy-rc.d
  placed_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' | $sudo tee "$policy" >/dev/null
    $sudo chmod 0755 "$policy"
    placed_policy=1
  fi
  status=0
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}" || status=$?
  if [ "$placed_policy" = 1 ]; then $sudo rm -f "$policy"; fi
  exit "$status"
fi
