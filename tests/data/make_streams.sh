#!/usr/bin/env bash
# Regenerates the test streams in this folder, their ffmpeg-derived .ref
# files and their .nals listings, plus samples/sample.264.
#
# Needs x264 (built with 10-bit output), ffmpeg with lavfi and the
# trace_headers filter, and python3. CI does not run this: the outputs are
# committed. Output is deterministic for a given x264/ffmpeg build
# (single-threaded encodes of synthetic sources).
set -euo pipefail
export PYTHONDONTWRITEBYTECODE=1  # keep __pycache__ out of this folder

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
samples="$(cd "$here/../.." && pwd)/samples"
tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# Synthetic source as y4m on stdout: SIZE FRAMES PIX_FMT [FILTER]
source_video() {
    local size=$1 frames=$2 pix_fmt=$3 filter=${4:-null}
    ffmpeg -nostdin -hide_banner -loglevel error \
        -f lavfi -i "testsrc2=size=${size}:rate=25" \
        -vf "$filter" -frames:v "$frames" -pix_fmt "$pix_fmt" \
        -strict -1 -f yuv4mpegpipe -
}

# encode OUT SIZE FRAMES PIX_FMT FILTER -- x264 options...
encode() {
    local out=$1 size=$2 frames=$3 pix_fmt=$4 filter=$5
    shift 6
    source_video "$size" "$frames" "$pix_fmt" "$filter" |
        x264 --quiet --no-progress --demuxer y4m --threads 1 "$@" -o "$out" -
}

trace() {
    ffmpeg -nostdin -hide_banner -nostats -loglevel repeat+debug \
        -f h264 -i "$1" -c:v copy -bsf:v trace_headers -f null - 2>"$2"
}

# Trace a committed stream and write NAME.ref and NAME.nals next to it.
reference() {
    local name=$1
    trace "$here/$name.264" "$tmp/$name.log"
    python3 "$here/convert_trace.py" "$tmp/$name.log" "$here/$name.264" "$here/$name.ref"
    python3 "$here/list_nals.py" "$here/$name.264" "$here/$name.nals"
}

# stream NAME SIZE FRAMES PIX_FMT FILTER -- x264 options...
stream() {
    local name=$1
    shift
    encode "$here/$name.264" "$@"
    reference "$name"
}

# craft NAME OPERATION SOURCE.264: see craft_headers.py.
craft() {
    local name=$1 op=$2 src=$3
    trace "$src" "$tmp/$name.src.log"
    python3 "$here/craft_headers.py" "$op" "$src" "$tmp/$name.src.log" "$here/$name.264"
    reference "$name"
}

QCIF=176x144
N=8

# Entropy coding and profiles.
stream baseline_cavlc  $QCIF $N yuv420p null -- --profile baseline
stream main_cabac      $QCIF $N yuv420p null -- --profile main --bframes 2
stream high_8x8        $QCIF $N yuv420p null -- --profile high --8x8dct --bframes 2
stream high10          $QCIF 6  yuv420p10le null -- --profile high10 --output-depth 10
stream high422         $QCIF 6  yuv422p null -- --profile high422 --output-csp i422
stream lossless444     128x96 3 yuv444p null -- --profile high444 --output-csp i444 --qp 0

# Picture structure.
# 120 lines are coded as 128 (MB pairs), so this also crops in field units.
stream interlaced_mbaff 176x120 6 yuv420p null -- --profile high --tff
stream slices4         $QCIF 6  yuv420p null -- --profile main --slices 4
stream crop_170x100    170x100 4 yuv420p null -- --profile high --crop-rect 2,2,4,0

# NAL unit kinds: access unit delimiters and several SEI messages.
stream aud_sei         $QCIF $N yuv420p null -- --profile high --aud --pic-struct \
    --bframes 2 --keyint 4 --open-gop --frame-packing 3 \
    --mastering-display 'G(13250,34500)B(7500,3000)R(34000,16000)WP(15635,16450)L(10000000,1)' \
    --cll 1000,400 --alternative-transfer smpte2084

# Start code framing: same payloads, mixed start code lengths, extra zeros.
encode "$tmp/framing_src.264" $QCIF 6 yuv420p null -- --profile high --aud --slices 2
python3 "$here/rewrite_start_codes.py" "$tmp/framing_src.264" "$here/mixed_start_codes.264"
reference mixed_start_codes

# Scaling matrices. The encoder only ever puts them in the PPS; the
# sps_scaling streams are derived to get them into the SPS as well.
stream cqm_jvt         $QCIF 4 yuv420p null -- --profile high --cqm jvt
stream cqm_jvt_444     $QCIF 4 yuv444p null -- --profile high444 --output-csp i444 --cqm jvt
# Lists in raster order. They exercise every way of coding a list:
#  4x4 intra Y   explicit deltas
#  4x4 intra Cb  equal to the default table -> "use default" (delta -8)
#  4x4 intra Cr  equal to Cb -> absent, falls back to the previous list
#  4x4 inter Y   ends in a run of equal values -> stops early (next scale 0)
#  8x8 inter     starts at 200 -> delta 192 wraps to -64
CQM4IY=6,12,19,26,12,19,26,33,19,26,33,40,26,33,40,47
CQM4IC=6,13,20,28,13,20,28,32,20,28,32,37,28,32,37,42
CQM4PY=10,12,16,16,14,16,16,16,16,16,16,16,16,16,16,16
CQM4PC=8,14,21,28,14,21,28,35,21,28,35,42,28,35,42,49
CQM8I=$(seq -s, 9 4 37),$(seq -s, 13 4 41),$(seq -s, 17 4 45),$(seq -s, 21 4 49),$(seq -s, 25 4 53),$(seq -s, 29 4 57),$(seq -s, 33 4 61),$(seq -s, 37 4 65)
CQM8P=200,$(printf '24,%.0s' $(seq 62))24
CQM_OPTS=(--cqm4iy "$CQM4IY" --cqm4ic "$CQM4IC" --cqm4py "$CQM4PY" --cqm4pc "$CQM4PC"
          --cqm8i "$CQM8I" --cqm8p "$CQM8P")
encode "$tmp/cqm_custom.264" $QCIF 4 yuv420p null -- --profile high "${CQM_OPTS[@]}"
craft sps_scaling sps-scaling "$tmp/cqm_custom.264"
encode "$tmp/cqm_custom_444.264" $QCIF 3 yuv444p null -- --profile high444 --output-csp i444 "${CQM_OPTS[@]}"
craft sps_scaling_444 sps-scaling "$tmp/cqm_custom_444.264"

# VUI: extended SAR (17:13 is not in the aspect_ratio_idc table), overscan,
# video signal type with colour description, chroma location.
stream vui_full        $QCIF 4 yuv420p null -- --profile high --sar 17:13 \
    --overscan show --videoformat pal --range pc \
    --colorprim bt709 --transfer bt709 --colormatrix bt709 --chromaloc 1

# HRD: NAL HRD from the encoder, VCL HRD derived from it, CBR with filler.
stream hrd_nal_vbr     $QCIF $N yuv420p null -- --profile main --nal-hrd vbr \
    --vbv-maxrate 12345 --vbv-bufsize 23456 --bframes 2
craft hrd_nal_vcl vcl-hrd "$here/hrd_nal_vbr.264"
stream hrd_cbr_filler  128x96 5 yuv420p null -- --profile main --nal-hrd cbr \
    --bitrate 1200 --vbv-maxrate 1200 --vbv-bufsize 1200 --bframes 0

# Weighted prediction needs a fade to produce non-trivial weights.
stream weighted_fade   $QCIF $N yuv420p fade=in:0:8 -- --profile main \
    --bframes 2 --weightp 2 --weightb

# Intra refresh: one IDR, then a recovery point SEI at every refresh. Encoded through
# ffmpeg's libx264 (the same encoder library), for machines without the x264 tool.
ffmpeg -nostdin -hide_banner -loglevel error -f lavfi -i "testsrc2=size=${QCIF}:rate=25" \
    -frames:v $N -pix_fmt yuv420p -c:v libx264 -threads 1 \
    -x264-params "intra-refresh=1:keyint=4:bframes=0:threads=1" -f h264 -y "$here/intra_refresh.264"
reference intra_refresh

# Macroblocks. A constant QP without adaptive quantisation: every macroblock has its
# slice's QP (I, P and B slices differ by the encoder's ratios). And a still noise picture
# panned 4 pixels a frame to the left, P only with one reference, searched exhaustively:
# almost every block's vector is (+4, 0).
stream mb_const_qp     $QCIF $N yuv420p null -- --profile main --qp 30 --aq-mode 0 \
    --bframes 2 --slices 2
ffmpeg -nostdin -hide_banner -loglevel error -f lavfi \
    -i "nullsrc=s=256x144,geq=lum='random(1)*255':cb=128:cr=128,gblur=sigma=1.5" \
    -frames:v 1 -y "$tmp/noise.png"
ffmpeg -nostdin -hide_banner -loglevel error -loop 1 -i "$tmp/noise.png" \
    -vf "crop=176:144:'n*4':0" -frames:v 6 -pix_fmt yuv420p -f yuv4mpegpipe - |
    x264 --quiet --no-progress --demuxer y4m --threads 1 --profile main --bframes 0 \
        --ref 1 --me esa --merange 8 -o "$here/mb_pan.264" -
reference mb_pan

# Picture order count type 1 (the encoder only writes types 0 and 2).
craft poc_type1 poc-type1 "$here/baseline_cavlc.264"

# Demo clip for the README: 5 s of 320x240 at 25 fps.
mkdir -p "$samples"
encode "$samples/sample.264" 320x240 125 yuv420p null -- --profile high --preset medium --crf 30

# Which parameter sets needed emulation prevention (00 00 03)?
python3 - "$here" <<'EOF'
import glob, os, sys
sys.path.insert(0, sys.argv[1])
from list_nals import list_nals
hits = []
for path in sorted(glob.glob(os.path.join(sys.argv[1], "*.264"))):
    data = open(path, "rb").read()
    for off, length, sc, t in list_nals(data):
        if t in (7, 8) and b"\x00\x00\x03" in data[off + sc:off + length]:
            hits.append("%s:%s" % (os.path.basename(path), "SPS" if t == 7 else "PPS"))
print("emulation prevention in:", " ".join(sorted(set(hits))) or "none")
if not hits:
    sys.exit("no parameter set with emulation prevention")
EOF

du -cb "$here"/*.264 "$here"/*.ref "$here"/*.nals | tail -1
