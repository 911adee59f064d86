#!/usr/bin/env bash
# The picture pane's figures on a 1080p stream with runs of 250 pictures from each IDR
# picture (made here with ffmpeg's libx264 into a temporary folder, never committed):
# selecting the last picture of a run cold and stepping forward, against ffmpeg decoding the
# same pictures; peak memory; the window's longest event-loop stall while decoding.
# Usage: [RUNS=5] [STREAM=made.264] bench/picture.sh [build-dir]   (configured with
# -DQUILLET_BUILD_BENCH=ON)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
runs="${RUNS:-3}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
command -v ffmpeg >/dev/null || { echo "needs ffmpeg (apt-get install ffmpeg)" >&2; exit 1; }
cmake --build "$build" -j2 --target quillet_picture_bench quillet_picture_stall_bench quillet-dump >&2

# STREAM: a stream made before by this script, to skip making it again.
stream="${STREAM:-$tmp/gop250.264}"
[ -f "$stream" ] || {
echo "making 3 runs of 250 pictures of 1080p ..." >&2
ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i "testsrc2=size=1920x1080:rate=25" \
    -frames:v 750 -pix_fmt yuv420p -c:v libx264 -preset veryfast -crf 23 -g 250 \
    -keyint_min 250 -sc_threshold 0 -bf 3 -f h264 "$stream"
}
ls -l "$stream" >&2

# ffmpeg on the first run alone: the same pictures the cold selection decodes.
second_idr=$(python3 - "$stream" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
i, idr, prev = 0, 0, 0
while True:
    i = data.find(b"\x00\x00\x01", i)
    if i < 0: break
    t = data[i + 3] & 31
    if t == 5 and prev != 5:
        idr += 1
        if idr == 2:
            # back to the first unit of that access unit (SPS and PPS before the slice)
            j = i
            while True:
                k = data.rfind(b"\x00\x00\x01", 0, j)
                if k < 0 or data[k + 3] & 31 not in (6, 7, 8, 9): break
                j = k
            print(j - 1 if data[j - 1] == 0 else j); break
    if t in (1, 5): prev = t
    i += 3
PY
)
head -c "$second_idr" "$stream" >"$tmp/run1.264"
# Milliseconds of one ffmpeg decode of a file, process start included.
ffmpeg_ms() {
    local s e
    s=$(date +%s%N)
    ffmpeg -nostdin -hide_banner -loglevel error -i "$1" -f null -
    e=$(date +%s%N)
    echo $(( (e - s) / 1000000 ))
}
# One picture: the IDR access unit alone, for ffmpeg's start-up and one decode.
idr_end=$(python3 - "$tmp/run1.264" <<'PY'
import sys
data = open(sys.argv[1], "rb").read()
i = data.find(b"\x00\x00\x01\x65")
j = data.find(b"\x00\x00\x01", i + 4)
print(j - 1 if data[j - 1] == 0 else j)
PY
)
head -c "$idr_end" "$tmp/run1.264" >"$tmp/one.264"

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
# Turn about, so that both meet the same load on a shared machine.
: >"$tmp/q" ; : >"$tmp/f" ; : >"$tmp/o"
for _ in $(seq "$runs"); do
    "$build/bench/quillet_picture_bench" "$stream" 1 >>"$tmp/q" 2>/dev/null
    ffmpeg_ms "$tmp/run1.264" >>"$tmp/f"
    ffmpeg_ms "$tmp/one.264" >>"$tmp/o"
done
cold=$(awk '{ print $4 }' "$tmp/q" | median)
step=$(awk '{ print $6 }' "$tmp/q" | median)
step_max=$(awk '{ print $8 }' "$tmp/q" | sort -n | tail -1)
peak=$(awk '{ print $10 }' "$tmp/q" | sort -n | tail -1)
step_mean=$(awk '{ print $12 }' "$tmp/q" | median)
ff_run=$(median <"$tmp/f")
ff_one=$(median <"$tmp/o")
ff_peak=$( { /usr/bin/time -f "%M" ffmpeg -nostdin -hide_banner -loglevel error -i "$tmp/run1.264" -f null - ; } 2>&1 | tail -1)
awk -v c="$cold" -v s="$step" -v sm="$step_max" -v sa="$step_mean" -v p="$peak" -v f="$ff_run" -v o="$ff_one" -v fp="$ff_peak" 'BEGIN {
    decode = f - o; per = decode / 249
    printf "1080p, 250 pictures from the IDR picture, median of '"$runs"' turns\n"
    printf "select the last picture, cold    %8.0f ms   peak %d KiB\n", c, p
    printf "ffmpeg, the same 250 pictures    %8.0f ms   peak %d KiB   (%.0f ms of it start-up and the IDR picture)\n", f, fp, o
    printf "cold against ffmpeg              %8.2f x (process start included), %.2f x (start-up left out)\n", c / f, (c - 0) / (decode > 0 ? decode : 1)
    printf "step forward, median / mean / longest   %.2f / %.1f / %.1f ms   one picture of ffmpeg: %.1f ms\n", s, sa, sm, per
}'
echo "== the window (offscreen), longest event-loop stall: with the pane, then hidden"
"$build/bench/quillet_picture_stall_bench" "$stream" 2>/dev/null
"$build/bench/quillet_picture_stall_bench" "$stream" off 2>/dev/null

# The reference-frame bound: 40 skipped 8192x4320 pictures whose set declares 16 reference
# frames where level 6.2 allows 5 (tests/data/hostile.tar.xz). The last picture, cold: peak
# memory against the size of one picture. The bound allows 5 + 2 pictures: 5 references and
# the one being decoded in the decoder, and our one copy, which moves on to the file; the
# rest (about 150 MB at both depths) is mostly the decoder's tables of each picture it holds
# (vectors, reference indices, macroblock types: about 19 MB a picture here). Before the copy moved (a second
# copy for the answer): 567 MB = 10.9 pictures for 4:2:0 8-bit, 1.81 GB = 8.7 for 4:4:4
# 14-bit; after: 516 MB = 9.9 and 1.60 GB = 7.7.
echo "== 8192x4320, num_ref_frames 16: the last picture, cold"
tar -xJf "$root/tests/data/hostile.tar.xz" -C "$tmp" dpb16_420_8bit_8192x4320.264 \
    dpb16_444_14bit_8192x4320.264
for name in dpb16_420_8bit_8192x4320 dpb16_444_14bit_8192x4320; do
    last=$("$build/src/cli/quillet-dump" "$tmp/$name.264" | tail -n 1 | cut -f 1)
    /usr/bin/time -f "%M %e" -o "$tmp/time" "$build/src/cli/quillet-dump" --picture "$last" \
        "$tmp/$name.y4m" "$tmp/$name.264" 2>/dev/null
    read -r kib seconds <"$tmp/time"
    picture=$(( $(stat -c %s "$tmp/$name.y4m") / 1024 ))
    awk -v n="$name" -v k="$kib" -v s="$seconds" -v p="$picture" 'BEGIN {
        printf "%-28s peak %8d KiB = %.1f pictures of %d KiB (bound 5 + 2), %.1f s\n", n, k, k / p, p, s }'
    rm -f "$tmp/$name.y4m"
done
