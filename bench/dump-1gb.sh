#!/usr/bin/env bash
# Time and peak memory of quillet-dump on a stream of about 1 GB: the sample stream
# repeated. Usage: bench/dump-1gb.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
sample="$root/samples/sample.264"
big="$work/big.264"
count=$(( (1000000000 + $(stat -c %s "$sample") - 1) / $(stat -c %s "$sample") ))
for _ in $(seq "$count"); do cat "$sample"; done > "$big"
echo "stream: $(stat -c %s "$big") bytes"
/usr/bin/time -f "elapsed %e s, user %U s, sys %S s, peak RSS %M KiB" \
    "$build/src/cli/quillet-dump" "$big" > "$work/listing.txt"
echo "listed $(wc -l < "$work/listing.txt") NAL units"
