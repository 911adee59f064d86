#!/usr/bin/env bash
# The window's cost per step on four streams, side by side: the sample (91 KB, shorter
# than one read), the sample repeated to 2 MiB and to 20 MiB (every read full), and a
# sparse stream of 20 GiB with a copy of the sample at every GiB and at its end; then the
# ratios of the 20 GiB stream to the 2 MiB and the 20 MiB ones.
# Usage: bench/window-steps.sh [build-dir]   (configure it with -DQUILLET_BUILD_BENCH=ON)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-bench}"
cmake --build "$build" --target quillet_window_bench >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sample="$root/samples/sample.264"
repeat_to() { # file bytes
    while [ ! -e "$1" ] || [ "$(stat -c %s "$1")" -lt "$2" ]; do cat "$sample" >> "$1"; done
}
repeat_to "$work/2mib.264" $((2 << 20))
repeat_to "$work/20mib.264" $((20 << 20))
big="$work/20gib.264"
gib=$((1 << 30))
for k in $(seq 0 20); do
    dd if="$sample" of="$big" bs=1M oflag=seek_bytes seek=$((k * gib)) conv=notrunc status=none
done
bench="$build/bench/quillet_window_bench"
files=("$sample" "$work/2mib.264" "$work/20mib.264" "$big")
for i in "${!files[@]}"; do
    "$bench" "${files[$i]}" > "$work/out$i"
done
printf '%-22s' step
for f in "${files[@]}"; do printf ' %13s' "$(stat -c %s "$f") B"; done
printf ' %12s %12s\n' 20GiB/2MiB 20GiB/20MiB
paste -d'|' "$work/out0" "$work/out1" "$work/out2" "$work/out3" | awk -F'|' '{
    n = split($1, a, " "); name = a[1]; for (i = 2; i < n - 1; i++) name = name " " a[i];
    printf "%-22s", name;
    for (f = 1; f <= 4; f++) { split($f, v, " "); value[f] = v[n - 1]; printf " %9s %-3s", v[n - 1], v[n] }
    printf " %12.2f %12.2f\n", (value[2] > 0 ? value[4] / value[2] : 0), (value[3] > 0 ? value[4] / value[3] : 0) }'
