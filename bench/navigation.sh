#!/usr/bin/env bash
# The navigation steps that once stranded users, each beside the same step on an ordinary
# stream (the sample repeated to 20 MiB): a thumb drag into the middle of a 20 GiB sparse
# stream (real copies at 0, 2 GiB, 4 GiB, 5 GiB, 16 GiB and its end, holes between) and the
# Page Down after it, and End on a stream of four 17 MB pictures each after its SPS and PPS.
# Usage: bench/navigation.sh [build-dir]   (configure it with -DQUILLET_BUILD_BENCH=ON)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-bench}"
cmake --build "$build" --target quillet_window_bench >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sample="$root/samples/sample.264"
while [ ! -e "$work/ordinary.264" ] || [ "$(stat -c %s "$work/ordinary.264")" -lt $((20 << 20)) ]; do
    cat "$sample" >> "$work/ordinary.264"
done
gib=$((1 << 30))
size=$((20 * gib))
for at in 0 $((2 * gib)) $((4 * gib)) $((5 * gib)) $((16 * gib)) $((size - $(stat -c %s "$sample"))); do
    dd if="$sample" of="$work/sparse.264" bs=1M oflag=seek_bytes seek="$at" conv=notrunc status=none
done
python3 - "$work/huge.264" <<'PY'
import os, re, sys
# Four intra pictures of 17 MB, each after an SPS and a PPS; random payload escaped as an
# encoder escapes it, so no start code hides inside.
sps = bytes.fromhex("0000000167640028acd9407805bb011000000300100000030320f1831960")
pps = bytes.fromhex("0000000168ebe3cb22c0")
with open(sys.argv[1], "wb") as out:
    for _ in range(4):
        payload = re.sub(rb"\x00\x00(?=[\x00-\x03])", b"\x00\x00\x03", os.urandom(17_000_000))
        out.write(sps + pps + b"\x00\x00\x00\x01\x65" + payload + b"\x80")
PY
bench="$build/bench/quillet_window_bench"
for f in ordinary sparse huge; do
    echo "== $f.264 ($(stat -c %s "$work/$f.264") bytes)"
    "$bench" "$work/$f.264" 7 | grep -E "end|thumb|after it|peak"
done
