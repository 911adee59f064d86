#!/usr/bin/env bash
# quillet-dump's text against the disk and its peers, side by side in one run:
#   1. the listing, warm in the page cache, against dd bs=4M of the same file: of about
#      1 GB of the sample repeated (dense: a unit every 700 bytes) and of about 1.3 GB of a
#      640x360 stream at 8 Mb/s (a unit every 23 KB), a 69 MB piece made here repeated;
#   2. --trees --full and --json against ffmpeg's trace_headers bitstream filter (its trace
#      going to /dev/null as quillet-dump's text does) on the first 20 MB of a dense
#      352x288 stream (nine slices a picture) and on a 12 MB 1080p stream, both made here
#      with ffmpeg's libx264;
#   3. --summary of the same 1 GB, in seconds per GB;
#   4. start-up: --version and the listing of the 91 KB sample, and how many shared
#      libraries each loads.
# Figures are medians of RUNS runs (default 5; start-up: the mean of 50 runs); the listings
# and dd take turns, as do the programs, and the load average after the listings (their own
# share in it) is shown. BEFORE names another quillet-dump (say of an older commit)
# measured in the same run; its outputs must match. Usage: bench/text-speed.sh [build-dir]   Environment: RUNS, BEFORE, BENCH_DIR
# (where the streams are made, default the build dir; removed afterwards).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build-bench}"
runs="${RUNS:-5}"
for tool in ffmpeg dd; do
    command -v "$tool" >/dev/null || { echo "text-speed: needs $tool" >&2; exit 1; }
done
if [ ! -x "$build/src/cli/quillet-dump" ] || [ -z "${1:-}" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLET_WITH_QT=OFF \
        -DQUILLET_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" -j "$(nproc)" --target quillet-dump >/dev/null
fi
dump="$build/src/cli/quillet-dump"
work="$(mktemp -d "${BENCH_DIR:-$build}/text-speed.XXXXXX")"
trap 'rm -rf "$work"' EXIT

ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=352x288:rate=25 -t 440 -c:v libx264 \
    -preset ultrafast -x264-params slices=9:keyint=250 -b:v 400k -f h264 "$work/long.264"
head -c 20000000 "$work/long.264" >"$work/dense.264"
rm "$work/long.264"
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=1920x1080:rate=25 -t 12 -c:v libx264 \
    -preset veryfast -b:v 8M -f h264 "$work/1080p.264"
sample="$root/samples/sample.264"
copies=$(((1000000000 + $(stat -c %s "$sample") - 1) / $(stat -c %s "$sample")))
for _ in $(seq "$copies"); do cat "$sample"; done >"$work/1gb.264"
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=640x360:rate=25 -t 120 -c:v libx264 \
    -preset ultrafast -b:v 8M -f h264 "$work/piece.264"
for _ in $(seq 19); do cat "$work/piece.264"; done >"$work/640x360.264"
rm "$work/piece.264"
cat "$work"/*.264 >/dev/null # warm the page cache

# seconds NAME COMMAND...: the median elapsed seconds of RUNS runs, output to /dev/null
# (standard error too, where trace_headers writes).
declare -A secs load
seconds() {
    local name="$1"
    shift
    for _ in $(seq "$runs"); do
        local start="$EPOCHREALTIME"
        "$@" >/dev/null 2>&1
        awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.4f\n", b - a }'
    done | sort -n | awk -v n="$runs" '{ t[NR] = $1 } END { print t[int((n + 1) / 2)] }' >"$work/m"
    read -r "secs[$name]" <"$work/m"
}
# interleaved NAME=COMMAND...: like seconds for each, but a run of each in turn, RUNS times,
# so that a change in the machine's load falls on all of them alike. COMMAND is split at
# blanks: the paths in it have none.
interleaved() {
    for _ in $(seq "$runs"); do
        for entry in "$@"; do
            local start="$EPOCHREALTIME"
            # shellcheck disable=SC2086
            ${entry#*=} >/dev/null 2>&1
            awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.4f\n", b - a }' \
                >>"$work/t.${entry%%=*}"
        done
    done
    for entry in "$@"; do
        sort -n "$work/t.${entry%%=*}" |
            awk -v n="$runs" '{ t[NR] = $1 } END { print t[int((n + 1) / 2)] }' >"$work/m"
        read -r "secs[${entry%%=*}]" <"$work/m"
    done
}
trace() {
    ffmpeg -nostdin -hide_banner -nostats -loglevel info -f h264 -i "$1" -c:v copy \
        -bsf:v trace_headers -f null -
}
# mean_ms COMMAND...: the mean milliseconds of 50 runs.
mean_ms() {
    local start="$EPOCHREALTIME"
    for _ in $(seq 50); do "$@" >/dev/null 2>&1; done
    awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", (b - a) * 1000 / 50 }'
}
libraries() { # how many shared objects the program maps, itself included
    LD_TRACE_LOADED_OBJECTS=1 "$1" | wc -l
}

programs=(now)
declare -A program=([now]="$dump")
if [ -n "${BEFORE:-}" ]; then
    programs+=(before)
    program[before]="$BEFORE"
    for args in "" "--trees --full" "--json" "--summary"; do
        # shellcheck disable=SC2086
        cmp -s <("$BEFORE" $args "$work/dense.264") <("$dump" $args "$work/dense.264") ||
            echo "BEFORE writes ${args:-the listing} of the dense stream differently" >&2
    done
fi
for l in 1gb 640x360; do
    entries=("dd.$l=dd if=$work/$l.264 of=/dev/null bs=4M status=none")
    for p in "${programs[@]}"; do
        entries+=("$p.list.$l=${program[$p]} $work/$l.264")
    done
    interleaved "${entries[@]}"
    load[$l]="$(cut -d' ' -f1 /proc/loadavg)"
done
# each NAME ARGS...: every program with ARGS, in turn, as PROGRAM.NAME.
each() {
    local name="$1"
    shift
    local entries=()
    for p in "${programs[@]}"; do
        entries+=("$p.$name=${program[$p]} $*")
    done
    interleaved "${entries[@]}"
}
each summary --summary "$work/1gb.264"
for s in dense 1080p; do
    each "trees.$s" --trees --full "$work/$s.264"
    each "json.$s" --json "$work/$s.264"
done
for s in dense 1080p; do
    seconds "trace.$s" trace "$work/$s.264"
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.1f", (b > 0 ? a / b : 0) }'; }
for l in 1gb 640x360; do
    echo "== listing $l: $(stat -c %s "$work/$l.264") bytes, warm; dd bs=4M ${secs[dd.$l]} s" \
        "(median of $runs; load average ${load[$l]})"
    for p in "${programs[@]}"; do
        printf '%-8s %7s s   %3.0f%% of dd\n' "$p" "${secs[$p.list.$l]}" \
            "$(awk -v d="${secs[dd.$l]}" -v q="${secs[$p.list.$l]}" 'BEGIN { print 100 * d / q }')"
    done
done
echo
for s in dense 1080p; do
    echo "== $s: $(stat -c %s "$work/$s.264") bytes, $("$dump" "$work/$s.264" | wc -l) units;" \
        "trace_headers ${secs[trace.$s]} s," \
        "$("$dump" --trees --full "$work/$s.264" | wc -c) bytes of --trees --full," \
        "$("$dump" --json "$work/$s.264" | wc -c) of --json"
    printf '%-8s %14s %8s %10s %8s\n' "" "--trees --full" "x trace" "--json" "x trace"
    for p in "${programs[@]}"; do
        printf '%-8s %12s s %7sx %8s s %7sx\n' "$p" "${secs[$p.trees.$s]}" \
            "$(ratio "${secs[trace.$s]}" "${secs[$p.trees.$s]}")" "${secs[$p.json.$s]}" \
            "$(ratio "${secs[trace.$s]}" "${secs[$p.json.$s]}")"
    done
    echo
done
echo "== --summary of the same file"
for p in "${programs[@]}"; do
    printf '%-8s %7s s   %.2f s per GB\n' "$p" "${secs[$p.summary]}" \
        "$(awk -v q="${secs[$p.summary]}" -v n="$(stat -c %s "$work/1gb.264")" \
            'BEGIN { print q * 1e9 / n }')"
done
echo
echo "== start-up (mean of 50 runs)"
printf '%-8s %10s %18s %10s\n' "" "--version" "listing the sample" "libraries"
for p in "${programs[@]}"; do
    printf '%-8s %7s ms %15s ms %10s\n' "$p" "$(mean_ms "${program[$p]}" --version)" \
        "$(mean_ms "${program[$p]}" "$sample")" "$(libraries "${program[$p]}")"
done
