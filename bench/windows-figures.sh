#!/usr/bin/env bash
# The Windows program's figures under Wine beside the Linux build's, in the same run: the
# listing and --summary of a stream of just over 2 GiB (the sample repeated) by
# quillet-dump.exe and by quillet-dump, whose outputs must be the same bytes, with their
# ratio, on the machine as it is and again with one core kept busy; then the Windows
# window's first page and Page Down on the same stream. Usage: bench/windows-figures.sh
# [linux-build-dir [windows-build-dir]]; builds what is missing first.
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

# run NAME COMMAND...: the seconds COMMAND takes, the fastest of three, so that the other
# work of a shared machine counts as little as it can; its output kept as NAME.txt.
run() {
    local what=$1
    shift
    local start end times=""
    for _ in 1 2 3; do
        start=$(date +%s.%N)
        "$@" > "$work/$what.txt"
        end=$(date +%s.%N)
        times="$times $(echo "$end - $start" | bc)"
    done
    echo $times | tr ' ' '\n' | sort -g | head -n 1
}
cat "$work/big.264" > /dev/null # the page cache holds it for both
# A Wine server that stays, so that no run pays for starting one.
wineserver -k >/dev/null 2>&1 || true
wineserver -p
# compare MODE ARGS...: the Linux and the Windows program on the stream, side by side.
compare() {
    local mode=$1
    shift
    local linux_s wine_s
    linux_s=$(run "linux-$mode" "$linux/src/cli/quillet-dump" "$@" "$work/big.264")
    wine_s=$(run "wine-$mode" wine "$windows/quillet-dump.exe" "$@" "$work/big.264")
    if ! cmp -s "$work/linux-$mode.txt" "$work/wine-$mode.txt"; then
        echo "the outputs of $mode differ" >&2
        exit 1
    fi
    printf '%-10s Linux %6.2f s  Wine %6.2f s  ratio %4.2f  (%s lines, the same bytes)\n' \
        "$mode" "$linux_s" "$wine_s" "$(echo "$wine_s / $linux_s" | bc -l)" \
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
