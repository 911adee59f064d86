#!/usr/bin/env bash
# The picture pane's figures on a 1080p stream with runs of 250 pictures from each IDR
# picture (made here with ffmpeg's libx264 into a temporary folder, never committed):
# selecting the last picture of a run cold and stepping forward, against ffmpeg decoding the
# same pictures; peak memory; the window's longest event-loop stall while decoding.
# Usage: bench/picture.sh [build-dir]   (configured with -DQUILLET_BUILD_BENCH=ON)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
runs="${RUNS:-3}"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT
command -v ffmpeg >/dev/null || { echo "needs ffmpeg (apt-get install ffmpeg)" >&2; exit 1; }
cmake --build "$build" -j2 --target quillet_picture_bench quillet_picture_stall_bench >&2

stream="$tmp/gop250.264"
echo "making 3 runs of 250 pictures of 1080p ..." >&2
ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i "testsrc2=size=1920x1080:rate=25" \
    -frames:v 750 -pix_fmt yuv420p -c:v libx264 -preset veryfast -crf 23 -g 250 \
    -keyint_min 250 -sc_threshold 0 -bf 3 -f h264 "$stream"
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
ffmpeg_ms() {
    local best=""
    for _ in $(seq "$runs"); do
        local s e
        s=$(date +%s%N)
        ffmpeg -nostdin -hide_banner -loglevel error -i "$1" -f null - 
        e=$(date +%s%N)
        local ms=$(( (e - s) / 1000000 ))
        [ -z "$best" ] || [ "$ms" -lt "$best" ] && best=$ms
    done
    echo "$best"
}
ff_run=$(ffmpeg_ms "$tmp/run1.264")
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
ff_one=$(ffmpeg_ms "$tmp/one.264")

echo "== quillet (TAccessUnitDecoder, libavcodec threads auto)"
"$build/bench/quillet_picture_bench" "$stream" "$runs"
echo "== ffmpeg -i first-run.264 -f null - (best of $runs, process start included)"
echo "run_ms $ff_run one_picture_ms $ff_one (start-up and one IDR picture)"
echo "== the window (offscreen), longest event-loop stall"
"$build/bench/quillet_picture_stall_bench" "$stream"
