#!/usr/bin/env bash
# Runs one libFuzzer target for a number of seconds, seeded from the test streams, the
# target's own seeds in fuzz/corpus/TARGET and the inputs that once broke it in
# tests/data/fuzz-regressions/TARGET. New inputs it finds collect in BUILD/fuzz-corpus/TARGET
# (kept between runs), a crashing input in BUILD/fuzz-findings/.
# Usage: fuzz/run.sh TARGET SECONDS [BUILD]   TARGET e.g. fuzz_hex_view; BUILD a tree
# configured with clang and -DQUILLET_BUILD_FUZZ=ON (default build-asan).
# The last line says how many inputs ran.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
target="$1"
seconds="$2"
build="${3:-$root/build-asan}"
binary="$build/fuzz/$target"
[ -x "$binary" ] || { echo "$binary is not built" >&2; exit 2; }

work="$build/fuzz-corpus/$target"
findings="$build/fuzz-findings"
mkdir -p "$work" "$findings"
seeds=("$root/tests/data")
for dir in "$root/fuzz/corpus/$target" "$root/tests/data/fuzz-regressions/$target"; do
    [ -d "$dir" ] && seeds+=("$dir")
done
log="$build/fuzz-$target.log"
# Debugger lines of the code under test go nowhere; libFuzzer's own report goes to the log.
status=0
"$binary" -max_total_time="$seconds" -timeout=20 -max_len=65536 -print_final_stats=1 \
    -artifact_prefix="$findings/$target-" "$work" "${seeds[@]}" >"$log" 2>&1 || status=$?
if [ "$status" -ne 0 ]; then
    tail -n 60 "$log" >&2
    echo "$target: finding, input saved under $findings" >&2
    exit 1
fi
runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
echo "$target: ${runs:-?} inputs in ${seconds} s, no finding"
