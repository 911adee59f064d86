#!/usr/bin/env bash
# The PNG files the Windows decoder's test wrote, read by ffmpeg: the plain picture within
# 40 dB PSNR of ffmpeg's own decode and conversion of it, and the one with the grid and
# slice overlays the same as the plain one everywhere but on the macroblocks' edges (the
# 16th pixels and those before them), where it is not.
# Usage: check_pngs.sh DATA_DIR REFERENCE_DIR
set -euo pipefail
data=$1
refs=$2
psnr="$(ffmpeg -nostdin -v info -i "$data/slices4.264" -i "$refs/slices4.plain.png" \
    -lavfi '[0]format=rgb24[a];[1]format=rgb24[b];[a][b]psnr=shortest=1' -f null - 2>&1 |
    sed -n 's/.*PSNR.* average:\([0-9.inf]*\).*/\1/p')"
echo "plain picture: PSNR $psnr dB"
[ "$psnr" = inf ] || awk -v p="$psnr" 'BEGIN { exit !(p >= 40) }'
differences() { # $1: the blend expression's condition for pixels that must be the same
    ffmpeg -nostdin -v error -i "$refs/slices4.plain.png" -i "$refs/slices4.grid.png" \
        -lavfi "[0]format=gbrp[a];[1]format=gbrp[b];[a][b]blend=all_expr='if($1,abs(A-B),0)'" \
        -f rawvideo - | tr -d '\0' | wc -c
}
off="$(differences 'gt(mod(X,16),0)*lt(mod(X,16),15)*gt(mod(Y,16),0)*lt(mod(Y,16),15)')"
on="$(differences 'eq(mod(X,16),0)+eq(mod(Y,16),0)')"
echo "samples changed off the edges: $off, on them: $on"
[ "$off" -eq 0 ] && [ "$on" -gt 0 ]
