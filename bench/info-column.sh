#!/usr/bin/env bash
# The window's steps with the Info column shown and hidden, on the sample and on a sparse
# stream of 20 GiB (a copy of the sample at every GiB and at its end), with the ratio of
# shown to hidden; "page down+rows" is a Page Down with the new page's rows drawn.
# Usage: bench/info-column.sh [build-dir]   (configure it with -DQUILLET_BUILD_BENCH=ON)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-bench}"
repeats="${REPEATS:-31}"
cmake --build "$build" --target quillet_window_bench >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sample="$root/samples/sample.264"
big="$work/20gib.264"
gib=$((1 << 30))
for k in $(seq 0 20); do
    dd if="$sample" of="$big" bs=1M oflag=seek_bytes seek=$((k * gib)) conv=notrunc status=none
done
bench="$build/bench/quillet_window_bench"
for f in "$sample" "$big"; do
    echo "== $(basename "$f"): $(stat -c %s "$f") bytes"
    "$bench" "$f" "$repeats" > "$work/on"
    "$bench" "$f" "$repeats" noinfo > "$work/off"
    printf '%-22s %12s %12s %8s\n' step "Info shown" "hidden" ratio
    paste -d'|' "$work/on" "$work/off" | awk -F'|' '{
        n = split($1, a, " "); name = a[1]; for (i = 2; i < n - 1; i++) name = name " " a[i];
        split($2, b, " ");
        printf "%-22s %9s %-3s %8s %-3s %7.2f\n", name, a[n - 1], a[n], b[n - 1], b[n],
            (b[n - 1] > 0 ? a[n - 1] / b[n - 1] : 0) }'
done
