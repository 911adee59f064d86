#!/usr/bin/env bash
# Cross-builds the 32-bit Windows program into build-windows/ (or $QUILLET_WINDOWS_BUILD_DIR)
# with MinGW-w64: quillet.exe, quillet-dump.exe and, unless QUILLET_BUILD_TESTS=OFF is
# given in QUILLET_WINDOWS_CMAKE_ARGS, the tests; then packs the two programs with the
# README into quillet-<version>-win32.zip. Installs the Debian packages it needs when any
# is missing (scripts/install-deps.sh windows), Wine and a virtual display among them,
# which the tests run under.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLET_WINDOWS_BUILD_DIR:-$root/build-windows}"

"$root/scripts/install-deps.sh" windows

# Fully optimised, without debugging information: the packed programs are stripped anyway,
# and the information slows the build and swells the tree many times. GCC 12 at -O3 takes
# strings built from pieces for overlapping copies (its bug 105329); the Linux build keeps
# that warning.
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O3 -DNDEBUG -Wno-restrict" \
    -DQUILLET_WERROR=ON -DQUILLET_WITH_QT=OFF \
    ${QUILLET_WINDOWS_CMAKE_ARGS:-} >/dev/null
jobs="$(nproc 2>/dev/null || echo 2)"
if [ $# -gt 0 ]; then
    cmake --build "$build" -j "$jobs" --target "$@" >&2
else
    cmake --build "$build" -j "$jobs" >&2
fi

# The programs leave the build tree stripped of their debugging information; what is
# packed is what a user runs.
if [ -f "$build/quillet.exe" ] && [ -f "$build/quillet-dump.exe" ]; then
    version="$(sed -n 's/^project(Quillet VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
    stage="$build/package"
    rm -rf "$stage"
    mkdir -p "$stage"
    for exe in quillet.exe quillet-dump.exe; do
        i686-w64-mingw32-strip -o "$stage/$exe" "$build/$exe"
    done
    cp "$root/README.md" "$stage/README.md"
    rm -f "$build/quillet-$version-win32.zip"
    (cd "$stage" && zip -q -X "$build/quillet-$version-win32.zip" quillet.exe quillet-dump.exe \
        README.md)
    echo "$build/quillet-$version-win32.zip" >&2
fi
