#!/usr/bin/env bash
# Builds Quillet's packages from a fresh build in build-package/ (or
# $QUILLET_PACKAGE_BUILD_DIR) and puts them in out/: the Debian package
# quillet_VERSION_ARCH.deb, and, when QUILLET_WINDOWS_TOOLCHAIN names a CMake toolchain file
# for the Windows program, its zip from a second build in build-package-windows/.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLET_PACKAGE_BUILD_DIR:-$root/build-package}"
out="$root/out"
jobs="$(nproc 2>/dev/null || echo 2)"
QUILLET_SANITIZE_TESTS=0 "$root/scripts/install-deps.sh"
mkdir -p "$out"

# Fresh, so that nothing of an earlier configuration ends up in the package.
rm -rf "$build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQUILLET_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$jobs" >&2
(cd "$build" && cpack -G DEB -B "$out" >&2)
rm -rf "$out/_CPack_Packages"

if [ -n "${QUILLET_WINDOWS_TOOLCHAIN:-}" ]; then
    windows="$build-windows"
    rm -rf "$windows"
    cmake -S "$root" -B "$windows" -DCMAKE_BUILD_TYPE=Release -DQUILLET_BUILD_TESTS=OFF \
        -DCMAKE_TOOLCHAIN_FILE="$QUILLET_WINDOWS_TOOLCHAIN" >/dev/null
    cmake --build "$windows" -j "$jobs" >&2
    (cd "$windows" && cpack -G ZIP -B "$out" >&2)
    rm -rf "$out/_CPack_Packages"
fi
ls -1 "$out"/quillet* 
