#!/usr/bin/env bash
# Builds everything with clang, AddressSanitizer and UndefinedBehaviorSanitizer into
# build-asan/ (or $QUILLET_ASAN_BUILD_DIR), runs every test there, then runs each fuzz
# target over its seeds for a few seconds ($QUILLET_FUZZ_SECONDS, default 15), two at a
# time. Any finding fails the run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLET_ASAN_BUILD_DIR:-$root/build-asan}"
seconds="${QUILLET_FUZZ_SECONDS:-15}"
"$root/scripts/install-deps.sh"
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUILLET_WERROR=ON -DQUILLET_SANITIZE=ON -DQUILLET_BUILD_FUZZ=ON >/dev/null
jobs="$(nproc 2>/dev/null || echo 2)"
cmake --build "$build" -j "$jobs" >&2

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
(cd "$build" && ctest --output-on-failure -j "$jobs")

targets=()
for binary in "$build"/fuzz/fuzz_*; do
    [ -x "$binary" ] && targets+=("$(basename "$binary")")
done
printf '%s\n' "${targets[@]}" |
    xargs -P 2 -I{} "$root/fuzz/run.sh" {} "$seconds" "$build"
