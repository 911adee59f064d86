#!/usr/bin/env bash
# The window's cost per step on three streams, side by side: the sample (91 KB, shorter
# than one read), the sample repeated to 20 MiB (every read full), and a sparse stream of
# 20 GiB with a copy of the sample at every GiB and at its end.
# Usage: bench/window-steps.sh [build-dir]   (configure it with -DQUILLET_BUILD_BENCH=ON)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-bench}"
cmake --build "$build" --target quillet_window_bench >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sample="$root/samples/sample.264"
mid="$work/20mib.264"
big="$work/20gib.264"
while [ ! -e "$mid" ] || [ "$(stat -c %s "$mid")" -lt $((20 << 20)) ]; do cat "$sample" >> "$mid"; done
gib=$((1 << 30))
for k in $(seq 0 20); do
    dd if="$sample" of="$big" bs=1M oflag=seek_bytes seek=$((k * gib)) conv=notrunc status=none
done
bench="$build/bench/quillet_window_bench"
"$bench" "$sample" > "$work/a"
"$bench" "$mid" > "$work/b"
"$bench" "$big" > "$work/c"
printf '%-22s %12s %12s %12s %14s\n' step "$(stat -c %s "$sample") B" "$(stat -c %s "$mid") B" \
    "$(stat -c %s "$big") B" "20GiB/20MiB"
paste -d'|' "$work/a" "$work/b" "$work/c" | awk -F'|' '{
    n = split($1, a, " "); split($2, b, " "); split($3, c, " ");
    name = a[1]; for (i = 2; i < n - 1; i++) name = name " " a[i];
    printf "%-22s %9s %-2s %9s %-2s %9s %-2s %14.2f\n", name, a[n-1], a[n], b[n-1], b[n],
           c[n-1], c[n], (b[n-1] > 0 ? c[n-1] / b[n-1] : 0) }'
