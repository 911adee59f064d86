#!/usr/bin/env bash
# quillet-dump --info and --find idr against the plain listing on a stream of about 2 GiB
# (the sample repeated): time and peak memory, median of RUNS (default 3).
# Usage: bench/info-find.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
runs="${RUNS:-3}"
dump="$build/src/cli/quillet-dump"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sample="$root/samples/sample.264"
big="$work/big.264"
size=$(stat -c %s "$sample")
count=$(( (2147483648 + size - 1) / size ))
for _ in $(seq "$count"); do cat "$sample"; done > "$big"
echo "stream: $(stat -c %s "$big") bytes ($count copies of the sample)"
cat "$big" > /dev/null # warm the page cache

measure() { # label, then the arguments of quillet-dump before the file
    local label="$1"
    shift
    local times=() peak=0 lines=0
    for _ in $(seq "$runs"); do
        /usr/bin/time -f "%e %M" -o "$work/time" "$dump" "$@" "$big" > "$work/out"
        read -r seconds kib < "$work/time"
        times+=("$seconds")
        peak=$kib
        lines=$(wc -l < "$work/out")
    done
    median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(( (runs + 1) / 2 ))p")
    printf '%-22s %8s s %10s KiB %10s lines\n' "$label" "$median" "$peak" "$lines"
}

printf '%-22s %10s %14s %16s\n' mode seconds "peak RSS" output
measure "listing"
measure "--info" --info
measure "--find idr" --find idr
measure "--find b" --find b
measure "--find sei:5" --find sei:5
