#!/usr/bin/env bash
# Configures and builds Quillet into build/ (or $QUILLET_BUILD_DIR). Extra arguments go to
# the build tool as targets.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLET_BUILD_DIR:-$root/build}"
"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_WERROR=ON \
    ${QUILLET_CMAKE_ARGS:-} >/dev/null
jobs="$(nproc 2>/dev/null || echo 2)"
# Build progress goes to standard error, so that a caller's standard output stays its own.
if [ $# -gt 0 ]; then
    cmake --build "$build" -j "$jobs" --target "$@" >&2
else
    cmake --build "$build" -j "$jobs" >&2
fi
