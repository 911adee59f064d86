#!/usr/bin/env bash
# Writes NAME.pictures: ffmpeg's own decode of each test stream, as the expected pictures
# of quillet-dump --picture and the window's picture pane. CI does not run this (the
# outputs are committed); it needs ffmpeg (5.1 here) with the showinfo filter.
#
# One line per picture, in ffmpeg's output order:
#   <pos> <pix_fmt> <width>x<height> <type> <checksum>
# pos is the file offset of the access unit the picture was decoded from (ffmpeg's
# pkt_pos); checksum is the Adler-32 of the picture's planes, rows without padding, in
# plane order, as ffmpeg's showinfo filter and framecrc muxer compute it. Every picture is
# output (-flags2 +showall), also those decoded with missing references.
#
# NAME.rp.pictures: the same for the stream cut at an access unit that holds a recovery
# point SEI (the bytes from there to the end), positions counted in the whole file, and a
# first line "from <offset>".
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# decode FILE BASE: the picture lines of FILE with BASE added to each position.
decode() {
    ffmpeg -nostdin -hide_banner -loglevel info -threads 1 -flags2 +showall -i "$1" \
        -vf showinfo -f null - 2>&1 |
        sed -n 's/.*Parsed_showinfo.* pos: *\([0-9-]*\) fmt:\([^ ]*\) .* s:\([^ ]*\) .* type:\([^ ]*\) checksum:\([0-9A-F]*\) .*/\1 \2 \3 \4 \5/p' |
        awk -v base="$2" '{ $1 = $1 + base; print }'
}

for f in "$here"/*.264; do
    name="$(basename "$f" .264)"
    decode "$f" 0 >"$here/$name.pictures"
done

# cut NAME OFFSET: the access unit at OFFSET holds a recovery point SEI.
cut_at() {
    local name=$1 offset=$(($2))
    tail -c +$((offset + 1)) "$here/$name.264" >"$tmp/$name.cut.264"
    { echo "from $offset"; decode "$tmp/$name.cut.264" "$offset"; } >"$here/$name.rp.pictures"
}
cut_at intra_refresh 0x15EA # SPS, PPS, recovery point SEI, slice: the second refresh
cut_at aud_sei 0x1558       # open GOP: AUD, SPS, PPS, SEIs (one a recovery point), I slice
