#!/usr/bin/env bash
# Makes the picture model's streams here (x264 0.164, ffmpeg 5.1) and writes here, for them
# and for every NAME.264 of the folder above, what ffmpeg's own decoder says of each
# picture:
#   NAME.dpb    its reference lists after each marking: "S fn/poc ... L idx/poc ...",
#               one line per reference picture (per field for field pictures), in
#               decoding order, from `ffmpeg -threads 1 -debug mmco` (ffmpeg adds 65536 to
#               every order count of type 0; the line keeps its numbers as printed); a
#               frame inserted for a gap in frame_num has no line, and "?" as its count
#   NAME.order  ffprobe's frames in output order: the file position of each frame's
#               packet, then its pict_type; a first line "packets" and every packet's
#               position in decoding order
# The streams are small (176x144, a few dozen frames) and each covers one way of using
# references; re-running rewrites them and their answers.
set -euo pipefail
cd "$(dirname "$0")"

source_clip() { # frames, extra filter
    ffmpeg -v error -f lavfi -i "testsrc2=size=176x144:rate=25,format=yuv420p$2" \
        -frames:v "$1" -f yuv4mpegpipe -
}

make_stream() { # name, frames, filter, x264 options...
    local name=$1 frames=$2 filter=$3
    shift 3
    source_clip "$frames" "$filter" |
        x264 --quiet --threads 1 --demuxer y4m --crf 30 "$@" -o "$name.264" - 2>/dev/null
}

make_stream ref1 30 "" --ref 1 --bframes 0 --keyint 15
make_stream ref4_normal 40 "" --ref 4 --bframes 3 --b-pyramid normal --keyint 40
make_stream ref16_strict 40 "" --ref 16 --bframes 3 --b-pyramid strict --keyint 40
make_stream weightp 30 ",fade=in:0:20" --ref 3 --weightp 2 --bframes 0 --keyint 30
make_stream bframes16 40 "" --ref 2 --bframes 16 --b-adapt 0 --b-pyramid none --keyint 40
make_stream interlaced 24 "" --tff --ref 3 --bframes 2 --keyint 24
make_stream open_gop 40 "" --open-gop --keyint 12 --min-keyint 12 --bframes 3 --ref 3
# ref1 without its fourth access unit (a reference P picture), cut where ffprobe's packets
# begin: a gap in frame_num that the stream does not allow.
ffprobe -v error -show_packets -show_entries packet=pos -of csv=p=0 ref1.264 | sed -n '4,5p' |
    { read -r from && read -r to && head -c "$from" ref1.264 && tail -c +"$((to + 1))" ref1.264; } \
        >lost_reference.264

for stream in *.264 ../*.264; do
    name=$(basename "$stream" .264)
    ffmpeg -hide_banner -nostats -threads 1 -debug mmco -i "$stream" -f null - 2>&1 |
        python3 -c '
import re, sys
lines = sys.stdin.read().splitlines()
# The decoder that runs after the stream is opened; the probe before it decodes too.
start = next(i for i, l in enumerate(lines) if l.startswith("Stream mapping"))
ctx = None
state = None  # "marked" after a marking, then "short" and "long" while its lists run
short, long_ = [], []
out = []
gaps, skip = set(), 0

def snapshot():
    global skip
    if skip > 0:
        skip -= 1
        return
    out.append("S " + " ".join(fn + "/" + ("?" if int(fn) in gaps else poc) for _, fn, poc in short) +
               " L " + " ".join(f"{i}/{poc}" for i, _, poc in long_))

for line in lines[start:]:
    m = re.match(r"\[h264 @ (0x[0-9a-f]+)\] (.*)", line)
    if not m:
        continue
    if ctx is None:
        ctx = m.group(1)
    if m.group(1) != ctx:
        continue
    text = m.group(2)
    gap = re.match(r"Frame num gap (\d+) (\d+)", text)
    if gap:
        # The frames ffmpeg inserts for the gap: their own markings are left out, and
        # their order counts (which ffmpeg makes up) are written as "?".
        inserted = set(range(int(gap.group(2)) + 1, int(gap.group(1))))
        skip = len(inserted)
        gaps |= inserted
        continue
    if text.startswith("nal_unit_type: 5"):
        gaps = set()
    if text == "no mmco here" or text.startswith("mmco:"):
        state = "marked"
    elif text == "short term list:" and state == "marked":
        state, short = "short", []
    elif text == "long term list:" and state == "short":
        state, long_ = "long", []
    elif state in ("short", "long") and re.match(r"\d+ fn:", text):
        i, fn, poc = re.match(r"(\d+) fn:(-?\d+) poc:(-?\d+)", text).groups()
        (short if state == "short" else long_).append((i, fn, poc))
    elif state == "long":
        snapshot()
        state = "marked" if (text == "no mmco here" or text.startswith("mmco:")) else None
if state == "long":
    snapshot()
print("\n".join(out))
' >"$name.dpb"
    {
        printf 'packets '
        ffprobe -v error -show_packets -show_entries packet=pos -of csv=p=0 "$stream" |
            tr '\n' ' '
        printf '\n'
        ffprobe -v error -show_frames -show_entries frame=pkt_pos,pict_type -of csv=p=0 "$stream" |
            grep -E '^[0-9]+,[A-Z?]' | cut -d, -f1,2 | tr ',' ' '
    } >"$name.order"
done
