#!/usr/bin/env bash
# Makes the streams the stream check must be quiet on (check_*.264 in this folder): small encodes of x264
# and OpenH264 across their options. CI does not run this: the outputs are committed.
# Usage: make_check_streams.sh OPENH264_STREAM_TOOL (the tests/streams tool, built)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
openh264="${1:?the openh264-stream tool}"

source_video() { # SIZE FRAMES PIX_FMT
    ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i "testsrc2=size=$1:rate=25" \
        -frames:v "$2" -pix_fmt "$3" -strict -1 -f yuv4mpegpipe -
}

x264_stream() { # NAME SIZE FRAMES PIX_FMT x264 options...
    local name=$1 size=$2 frames=$3 pix_fmt=$4
    shift 4
    source_video "$size" "$frames" "$pix_fmt" |
        x264 --quiet --no-progress --demuxer y4m --threads 1 "$@" -o "$here/$name.264" -
}

x264_stream check_bpyramid_weightp 96x64 16 yuv420p --profile high --bframes 4 \
    --b-pyramid normal --weightp 2 --ref 4 --keyint 8
x264_stream check_tff_slices 96x64 8 yuv420p --tff --slices 3 --bframes 2 --ref 2
x264_stream check_baseline_slices 96x64 8 yuv420p --profile baseline --slices 4 --ref 3 --aud
x264_stream check_main_cavlc 96x64 8 yuv420p --profile main --no-cabac --bframes 2 \
    --b-pyramid strict --weightb
x264_stream check_high444_intra 64x64 4 yuv444p --profile high444 --keyint 1 --qp 20
x264_stream check_high422_10 64x64 4 yuv422p10le --profile high422 --output-depth 10 \
    --bframes 1 --nal-hrd vbr --vbv-bufsize 500 --vbv-maxrate 500
"$openh264" "$here/check_openh264_layers.264" --size 96x64 --frames 12 --slices 3 --layers 3 \
    --ltr --prefix --ids 2
"$openh264" "$here/check_openh264_cabac.264" --size 96x64 --frames 8 --cabac --refs 2 \
    --intra-period 4
