#!/usr/bin/env bash
# quillet-dump --summary against the plain listing on a stream of about 2 GiB (the sample
# repeated) and on a sparse stream of 20 GiB (a copy of the sample at every GiB), time and
# peak memory; and against ffprobe -show_frames on a tenth of the 2 GiB stream (its rate
# given per GiB, since a whole run takes many minutes; FFPROBE=0 leaves it out); then the
# longest hold of the window's user-interface thread while the walk runs beside it
# (quillet_summary_bench of BENCH_BUILD, default build-bench, when built).
# Usage: bench/summary.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
dump="$build/src/cli/quillet-dump"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sample="$root/samples/sample.264"
size=$(stat -c %s "$sample")
big="$work/2gib.264"
count=$(( (2147483648 + size - 1) / size ))
for _ in $(seq "$count"); do cat "$sample"; done > "$big"
part="$work/part.264"
for _ in $(seq $((count / 10))); do cat "$sample"; done > "$part"
sparse="$work/20gib.264"
gib=$((1 << 30))
for k in $(seq 0 20); do
    dd if="$sample" of="$sparse" bs=1M oflag=seek_bytes seek=$((k * gib)) conv=notrunc status=none
done
cat "$big" > /dev/null

run() { # label file command...
    local label="$1" file="$2"
    shift 2
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" "$file" > "$work/out" 2>/dev/null
    read -r seconds kib < "$work/time"
    local bytes
    bytes=$(stat -c %s "$file")
    printf '%-34s %12s B %8s s %8.2f GiB/s %10s KiB\n' "$label" "$bytes" "$seconds" \
        "$(echo "$bytes / $gib / ($seconds + 0.0001)" | bc -l)" "$kib"
}
run "listing, 2 GiB" "$big" "$dump"
run "--summary, 2 GiB" "$big" "$dump" --summary
run "listing, 20 GiB sparse" "$sparse" "$dump"
run "--summary, 20 GiB sparse" "$sparse" "$dump" --summary
run "--summary, a tenth" "$part" "$dump" --summary
if [ "${FFPROBE:-1}" != 0 ] && command -v ffprobe > /dev/null; then
    run "ffprobe -show_frames, a tenth" "$part" ffprobe -v error -show_frames -of csv
fi
poll="${BENCH_BUILD:-$root/build-bench}/bench/quillet_summary_bench"
if [ -x "$poll" ]; then
    for f in "$big" "$sparse"; do
        echo "window, $(basename "$f"): $("$poll" "$f" | head -1)"
    done
fi
