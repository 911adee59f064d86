#!/usr/bin/env bash
# Quillet against its peers, measured side by side in one run, printed as one table:
#   1. start-code scan speed over the sample repeated to 32 MiB in memory: GetNalUnitLength
#      unit by unit, the window's block scan, and memchr for the 01 byte alone;
#   2. listing a stream of about 2 GB (the sample repeated), warm in the page cache:
#      quillet-dump against ffprobe -show_packets and against dd of the same file, the
#      median of RUNS runs of each, with peak memory;
#   3. the window's cost per step (bench/window-steps.sh).
# ffmpeg (for ffprobe) is installed for this benchmark only; no test uses it.
# Usage: bench/peers.sh [build-dir]   Environment: RUNS (default 3), BENCH_DIR (where the
# 2 GB stream is made, default the build dir; it is removed afterwards), BEFORE (another
# quillet-dump, say of an older commit, measured in the same run; its listing must match).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-bench}"
runs="${RUNS:-3}"

QUILLET_WITH_BENCH=1 "$root/scripts/install-deps.sh"
extra=()
for p in ffmpeg time; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || extra+=("$p")
done
if [ ${#extra[@]} -gt 0 ]; then
    if [ "$(id -u)" -ne 0 ]; then
        echo "The benchmark needs: sudo apt-get install ${extra[*]}" >&2
        exit 1
    fi
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${extra[@]}" >/dev/null
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_BUILD_BENCH=ON \
    -DQUILLET_WITH_QT=OFF -DQUILLET_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target quillet-dump quillet_bench quillet_window_bench >/dev/null

echo "== start-code scan (sample repeated to 32 MiB, in memory)"
"$build/bench/quillet_bench" --benchmark_filter='GetNalUnitLength|ScanNalUnits|Memchr' \
    --benchmark_format=csv 2>/dev/null | awk -F, 'NR > 1 {
        gsub(/"/, "", $1); sub(/^BM_/, "", $1); rate[$1] = $6; order[NR] = $1 }
    END { for (i = 2; i in order; i++) printf "%-22s %8.2f GB/s  %5.2f x memchr\n", order[i],
          rate[order[i]] / 1e9, rate[order[i]] / rate["Memchr"] }'

work="$(mktemp -d "${BENCH_DIR:-$build}/peers.XXXXXX")"
trap 'rm -rf "$work"' EXIT
sample="$root/samples/sample.264"
stream="$work/2gb.264"
copies=$(( (2000000000 + $(stat -c %s "$sample") - 1) / $(stat -c %s "$sample") ))
for _ in $(seq "$copies"); do cat "$sample"; done > "$stream"
cat "$stream" > /dev/null # warm the page cache

# measure NAME COMMAND...: the median elapsed seconds and the largest peak RSS of RUNS runs.
declare -A secs kib
measure() {
    local name="$1"
    shift
    for _ in $(seq "$runs"); do
        /usr/bin/time -f "%e %M" -o "$work/t" "$@" > /dev/null
        cat "$work/t"
    done | sort -n | awk -v n="$runs" '{ t[NR] = $1; if ($2 > m) m = $2 }
        END { print t[int((n + 1) / 2)], m }' > "$work/m"
    read -r secs[$name] kib[$name] < "$work/m"
}
measure quillet "$build/src/cli/quillet-dump" "$stream"
measure ffprobe ffprobe -v error -show_packets -of csv "$stream"
measure dd dd if="$stream" of=/dev/null bs=4M status=none
if [ -n "${BEFORE:-}" ]; then
    measure before "$BEFORE" "$stream"
    cmp -s <("$BEFORE" "$stream") <("$build/src/cli/quillet-dump" "$stream") ||
        echo "BEFORE lists the stream differently" >&2
fi
units=$("$build/src/cli/quillet-dump" "$stream" | wc -l)
packets=$(ffprobe -v error -show_packets -of csv "$stream" | wc -l)

echo
echo "== listing $(stat -c %s "$stream") bytes ($copies copies of the sample), median of $runs"
printf '%-44s %8s %10s %12s\n' tool seconds 'peak KiB' 'vs quillet'
row() { # name label
    printf '%-44s %8.2f %10s %11.2fx\n' "$2" "${secs[$1]}" "${kib[$1]}" \
        "$(awk -v a="${secs[$1]}" -v b="${secs[quillet]}" 'BEGIN { print (b > 0 ? a / b : 0) }')"
}
row quillet "quillet-dump ($units NAL units)"
row ffprobe "ffprobe -show_packets -of csv ($packets packets)"
row dd "dd bs=4M"
if [ -n "${BEFORE:-}" ]; then
    row before "quillet-dump given as BEFORE"
fi
awk -v q="${secs[quillet]}" -v d="${secs[dd]}" -v f="${secs[ffprobe]}" 'BEGIN {
    printf "quillet-dump runs at %.0f%% of dd'"'"'s speed and %.1fx ffprobe'"'"'s\n", 100 * d / q, f / q }'

echo
echo "== the window, per step (median of repeated runs) and peak memory"
"$root/bench/window-steps.sh" "$build"
