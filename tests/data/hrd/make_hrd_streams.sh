#!/usr/bin/env bash
# Makes the buffer model's test streams and their answers (see README.md here). Needs x264
# (0.164), ffmpeg (5.1) and python3; the output is committed so that tests need none.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
cd "$here"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

ffmpeg -hide_banner -loglevel error -f lavfi -i testsrc2=size=128x96:rate=25 -frames:v 100 \
    -pix_fmt yuv420p -f yuv4mpegpipe "$work/src.y4m"

x264q() { x264 --threads 1 --quiet "$@" "$work/src.y4m" 2>/dev/null; }
trace() { ffmpeg -hide_banner -i "$1" -c copy -bsf:v trace_headers -f null - 2>"$work/$(basename "$1").trace"; }
oracle() { # NAME [RATE SIZE DELAY]
    local name="$1"
    shift
    trace "$name.264"
    python3 hrd_oracle.py "$work/$name.264.trace" "$@" >"$name.hrd"
}
# x264's debug lines naming the access units (decoding order) it let underflow.
underflows() { grep -o 'VBV underflow[^(]*(frame [0-9]*' "$1" | grep -o '[0-9]*$' || true; }

# Conforming: CBR with filler, and VBR, both with B frames and four GOPs.
x264q --bitrate 150 --vbv-maxrate 150 --vbv-bufsize 150 --nal-hrd cbr --bframes 3 --keyint 25 \
    -o cbr.264
x264q --crf 22 --vbv-maxrate 200 --vbv-bufsize 150 --nal-hrd vbr --bframes 3 --b-pyramid normal \
    --keyint 25 -o vbr.264
oracle cbr
oracle vbr

# Made to underflow: a quality floor the rate cannot pay for, and the same with B frames and
# a larger buffer, which underflows now and then.
x264 --threads 1 --crf 10 --crf-max 12 --vbv-maxrate 100 --vbv-bufsize 100 --nal-hrd vbr \
    --log-level debug -o underflow.264 "$work/src.y4m" 2>"$work/underflow.log"
underflows "$work/underflow.log" >underflow.x264
x264 --threads 1 --crf 10 --crf-max 12 --vbv-maxrate 180 --vbv-bufsize 160 --nal-hrd vbr \
    --bframes 3 --keyint 25 --log-level debug -o underflow_b.264 "$work/src.y4m" 2>"$work/underflow_b.log"
underflows "$work/underflow_b.log" >underflow_b.x264
oracle underflow
oracle underflow_b

# The CBR stream edited: its SPS's CPB size halved, its bit rate halved, its tick halved.
size="$(grep -m1 -o 'cpb_size_value_minus1\[0\] *[01]* = [0-9]*' "$work/cbr.264.trace" | grep -o '[0-9]*$')"
rate="$(grep -m1 -o 'bit_rate_value_minus1\[0\] *[01]* = [0-9]*' "$work/cbr.264.trace" | grep -o '[0-9]*$')"
python3 edit_sps.py "$work/cbr.264.trace" cbr.264 cbr_half_size.264 \
    "cpb_size_value_minus1[0]=$(((size + 1) / 2 - 1))"
python3 edit_sps.py "$work/cbr.264.trace" cbr.264 cbr_half_rate.264 \
    "bit_rate_value_minus1[0]=$(((rate + 1) / 2 - 1))"
ffmpeg -hide_banner -loglevel error -i cbr.264 -c copy -bsf:v h264_metadata=tick_rate=100 \
    -y cbr_fast.264
oracle cbr_half_size
oracle cbr_half_rate
oracle cbr_fast

# Re-labelled to lower levels: level 1 alone, and level 1 at twice the frame rate.
ffmpeg -hide_banner -loglevel error -i cbr.264 -c copy -bsf:v h264_metadata=level=1 -y cbr_level1.264
ffmpeg -hide_banner -loglevel error -i cbr.264 -c copy \
    -bsf:v h264_metadata=level=1:tick_rate=100 -y cbr_fast_level1.264

# A stream without HRD, checked with the user's figures: 100 kbit/s, 80 kbit, 0.5 s.
x264q --crf 26 --bframes 2 --keyint 50 -o no_hrd.264
oracle no_hrd 100000 80000 45000

# The NAL and the VCL HRD of a test stream that declares both: the VCL HRD counts the NAL
# units of slices and filler data alone.
trace ../hrd_nal_vcl.264
python3 hrd_oracle.py "$work/hrd_nal_vcl.264.trace" >hrd_nal_vcl.nal
python3 hrd_oracle.py "$work/hrd_nal_vcl.264.trace" --vcl ../hrd_nal_vcl.264 >hrd_nal_vcl.vcl
