#!/usr/bin/env bash
# Builds everything and runs every test; checks the installed tree, the desktop files and
# the Debian package (scripts/check-install.sh); then, unless QUILLET_SANITIZE_TESTS=0, does
# it all again under the sanitizers and runs the fuzz targets briefly
# (scripts/test-sanitized.sh).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLET_BUILD_DIR:-$root/build}"
"$root/scripts/build.sh"
export QT_QPA_PLATFORM=offscreen
(cd "$build" && ctest --output-on-failure -j "$(nproc 2>/dev/null || echo 2)")
"$root/scripts/check-install.sh"
if [ "${QUILLET_SANITIZE_TESTS:-1}" != 0 ]; then
    "$root/scripts/test-sanitized.sh"
fi
