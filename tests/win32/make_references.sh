#!/usr/bin/env bash
# The expected pictures of the Windows decoder's test, made by ffmpeg on the build machine
# when the tests run: first hd1080.264, 1080p with B pictures (its rows do not fill its
# last macroblock row), tagged BT.601, which Wine otherwise assumes BT.709 at this size and
# converts; tagged709.264, a small stream tagged BT.709, and untagged720.264, both of
# which Wine converts to BT.601; then for them and each stream of DATA_DIR NAME.yuv, ffmpeg's decode as
# 8-bit 4:2:0 frames in output order, cropped exactly (not to the alignment ffmpeg prefers),
# and NAME.pos, the offset of each frame's access unit; and main_cabac.bgra. Also
# crop_66x50.264, whose chroma planes are of odd size; irb_cut.264, a stream with intra
# refresh and B pictures cut at a recovery point, whose last pictures a decoder keeps until
# it is drained; and edge_buf1.edge and edge_buf2.edge, 8192x4320 pictures with 1 and 2
# frames buffered, either side of the 32-bit program's bound, with only the last frame of
# the first decoded (NAME.last.yuv).
# Usage: make_references.sh DATA_DIR OUT_DIR [MORE_DATA_DIR]
set -euo pipefail
data=$1
out=$2
mkdir -p "$out"
ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -frames:v 7 \
    -c:v libx264 -preset veryfast -bf 2 -g 7 -colorspace smpte170m -color_primaries smpte170m \
    -color_trc smpte170m -f h264 "$out/hd1080.264"
ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 7 \
    -c:v libx264 -preset veryfast -bf 2 -g 7 -colorspace bt709 -color_primaries bt709 \
    -color_trc bt709 -f h264 "$out/tagged709.264"
ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1280x720:rate=25 -frames:v 3 \
    -c:v libx264 -preset veryfast -bf 1 -f h264 "$out/untagged720.264"
ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=66x50:rate=25 -frames:v 5 \
    -pix_fmt yuv420p -c:v libx264 -preset veryfast -f h264 "$out/crop_66x50.264"
ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 40 \
    -pix_fmt yuv420p -c:v libx264 -preset veryfast -x264-params intra-refresh=1:keyint=12:bframes=2 \
    -f h264 "$out/irb.264"
# The parameter sets before the first SEI, then everything from the second recovery point.
sei=$(grep -obUaP '\x00\x00\x01\x06' "$out/irb.264" | head -n 1 | cut -d: -f1)
rp=$(grep -obUaP '\x00\x00\x01\x06\x06' "$out/irb.264" | sed -n 2p | cut -d: -f1)
{ head -c "$sei" "$out/irb.264"; tail -c +"$((rp + 1))" "$out/irb.264"; } >"$out/irb_cut.264"
rm "$out/irb.264"
# The refused one needs no more than its parameter sets; the other fills its buffer.
for frames in 1 2; do
    ffmpeg -nostdin -v error -y -f lavfi -i color=c=gray:size=8192x4320:rate=25 \
        -frames:v $((frames == 1 ? 4 : 1)) -pix_fmt yuv420p -c:v libx264 -preset ultrafast \
        -x264-params ref=$frames:bframes=0:level=6.2 -f h264 "$out/edge_buf$frames.edge"
done
ffmpeg -nostdin -v error -y -i "$out/edge_buf1.edge" -vf 'select=eq(n\,3)' -frames:v 1 \
    -pix_fmt yuv420p -f rawvideo "$out/edge_buf1.last.yuv"
for stream in "$out"/*.264 "$data"/*.264 ${3:+"$3"/*.264}; do
    name="$(basename "$stream" .264)"
    ffmpeg -nostdin -v error -y -threads 1 -flags unaligned -flags2 +showall -i "$stream" \
        -pix_fmt yuv420p -f rawvideo "$out/$name.yuv"
    ffprobe -v error -flags2 +showall -show_entries frame=pkt_pos -of csv=p=0 "$stream" |
        sed -n 's/^\([0-9]\+\).*/\1/p' >"$out/$name.pos"
done
# The first picture of one stream as ffmpeg shows it: 8-bit B, G, R, A.
ffmpeg -nostdin -v error -y -i "$data/main_cabac.264" -frames:v 1 -pix_fmt bgra -f rawvideo \
    "$out/main_cabac.bgra"
