#!/usr/bin/env bash
# Builds the Debian package ruvo_<version>_<arch>.deb with CPack, checks it
# with lintian (an error fails; the warnings that remain, and why, are in
# packaging/README.md) and prints the package's path last.
#   RUVO_BUILD_DIR   the build folder (default build-deb); one already built
#                    with the same settings is reused as it is
#   RUVO_BUILD_TYPE  default Release
#   RUVO_WERROR      as for scripts/build.sh
# Needs dpkg-dev and lintian (scripts/install-deps.sh).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir=${RUVO_BUILD_DIR:-$root/build-deb}

# Only what the package holds is built; CPack's install then builds nothing
# more (without the option its install would build every test first).
RUVO_BUILD_DIR=$dir RUVO_BUILD_TYPE=${RUVO_BUILD_TYPE:-Release} RUVO_TARGETS="ruvo ruvo_gui ruvo_docs" \
  "$root/scripts/build.sh" -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >&2
rm -f "$dir"/ruvo_*.deb
(cd "$dir" && cpack -G DEB >&2)
deb=$(ls "$dir"/ruvo_*.deb)
[ "$(echo "$deb" | wc -l)" = 1 ] || { echo "cpack made no single package: $deb" >&2; exit 1; }

echo "== lintian $(basename "$deb")" >&2
lintian --fail-on error --tag-display-limit 0 "$deb" >&2
echo "$deb"
