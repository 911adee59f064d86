#!/usr/bin/env bash
# The Windows program's figures under Wine beside the Linux build's, in the same run: the
# listing and --summary of a stream of just over 2 GiB (the sample repeated) by
# quillet-dump.exe and by quillet-dump, whose outputs must be the same bytes, with their
# ratio, the processor time of each (Wine's server included) and the load average beside
# them, on the machine as it is and again with one core kept busy; Wine's start of a program
# on its own; then the Windows window's first page and Page Down on the same stream.
# Usage: bench/windows-figures.sh [linux-build-dir [windows-build-dir]], QUILLET_FIGURE_RUNS
# runs of each (5); builds what is missing first.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
linux="${1:-$root/build}"
windows="${2:-$root/build-windows}"
QUILLET_BUILD_DIR="$linux" "$root/scripts/build.sh" quillet-dump >/dev/null 2>&1
QUILLET_WINDOWS_BUILD_DIR="$windows" "$root/scripts/build-windows.sh" quillet-dump \
    win32_window_figures >/dev/null 2>&1
export WINEPREFIX="$windows/wine" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1

work="$(mktemp -d)"
trap 'rm -rf "$work"; [ -z "${busy:-}" ] || kill "$busy" 2>/dev/null || true' EXIT
sample="$root/samples/sample.264"
size=$(stat -c %s "$sample")
copies=$(( (2147483648 + size - 1) / size ))
for _ in $(seq 100); do cat "$sample"; done > "$work/hundred.264"
{
    for _ in $(seq $((copies / 100))); do cat "$work/hundred.264"; done
    for _ in $(seq $((copies % 100))); do cat "$sample"; done
} > "$work/big.264"
echo "stream: $(stat -c %s "$work/big.264") bytes ($copies copies of the sample)"

runs=${QUILLET_FIGURE_RUNS:-5}
ticks=$(getconf CLK_TCK)
# The processor seconds this prefix's Wine server has used so far; 0 before it runs.
server_cpu() {
    local pid
    for pid in $(pgrep -x wineserver32; pgrep -x wineserver); do
        if { tr '\0' '\n' < "/proc/$pid/environ"; } 2>/dev/null |
            grep -qx "WINEPREFIX=$WINEPREFIX"; then
            awk -v t="$ticks" '{print ($14 + $15) / t}' "/proc/$pid/stat"
            return
        fi
    done
    echo 0
}
# run NAME COMMAND...: the seconds COMMAND takes, the fastest and the median of $runs runs,
# so that the other work of a shared machine counts as little as it can, and how much it
# did; then the fewest processor seconds a run used, the Wine server's included, which the
# other work changes less; its output kept as NAME.txt.
run() {
    local what=$1
    shift
    local start end server times="" cpus="" TIMEFORMAT='%U %S'
    for _ in $(seq "$runs"); do
        server=$(server_cpu)
        start=$(date +%s.%N)
        { time "$@" > "$work/$what.txt" 2> /dev/null; } 2> "$work/cpu"
        end=$(date +%s.%N)
        times="$times $(echo "$end - $start" | bc)"
        cpus="$cpus $(echo "$(tr ' ' '+' < "$work/cpu") + $(server_cpu) - $server" | bc)"
    done
    echo "$(echo $times | tr ' ' '\n' | sort -g |
        awk '{t[NR] = $1} END {print t[1], t[int((NR + 1) / 2)]}') $(echo $cpus |
        tr ' ' '\n' | sort -g | head -n 1)"
}
cat "$work/big.264" > /dev/null # the page cache holds it for both
# A Wine server that stays, so that no run pays for starting one.
wineserver -k >/dev/null 2>&1 || true
wineserver -p
# Wine's own start, which every Wine figure below includes: a program that only prints its
# version, with the server already up.
read -r start_s _ start_c < <(run version wine "$windows/quillet-dump.exe" --version)
printf 'Wine starts a program in %.3f s, %.3f s of processor time (the fastest of %s)\n' \
    "$start_s" "$start_c" "$runs"
# compare MODE ARGS...: the Linux and the Windows program on the stream, side by side, the
# fastest runs and the medians, the processor time, and the load average of the last minute
# when they ended.
compare() {
    local mode=$1
    shift
    local linux_s linux_m linux_c wine_s wine_m wine_c
    read -r linux_s linux_m linux_c < <(run "linux-$mode" "$linux/src/cli/quillet-dump" "$@" \
        "$work/big.264")
    read -r wine_s wine_m wine_c < <(run "wine-$mode" wine "$windows/quillet-dump.exe" "$@" \
        "$work/big.264")
    if ! cmp -s "$work/linux-$mode.txt" "$work/wine-$mode.txt"; then
        echo "the outputs of $mode differ" >&2
        exit 1
    fi
    printf '%-8s Linux %6.2f s (median %6.2f)  Wine %6.2f s (median %6.2f)  ratio %4.2f' \
        "$mode" "$linux_s" "$linux_m" "$wine_s" "$wine_m" "$(echo "$wine_s / $linux_s" | bc -l)"
    printf ' (of medians %4.2f)  processor %5.2f s / %5.2f s, ratio %4.2f  load %s  (%s lines)\n' \
        "$(echo "$wine_m / $linux_m" | bc -l)" "$linux_c" "$wine_c" \
        "$(echo "$wine_c / $linux_c" | bc -l)" "$(cut -d ' ' -f 1 /proc/loadavg)" \
        "$(wc -l < "$work/linux-$mode.txt")"
}
echo "== quiet"
compare listing
compare summary --summary
echo "== one core busy"
sh -c 'while :; do :; done' &
busy=$!
compare listing
compare summary --summary
kill "$busy"
echo "== the Windows window under Wine on the same stream"
# The window needs a Wine server that sees the display: the one the listing left ends first.
wineserver -k
xvfb-run -a -s "-screen 0 1280x1024x24" \
    wine "$windows/tests/win32/win32_window_figures.exe" "$work/big.264" 20
wineserver -k >/dev/null 2>&1 || true
