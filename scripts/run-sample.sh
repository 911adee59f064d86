#!/usr/bin/env bash
# Builds Quillet and lists the NAL units of the bundled sample stream.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLET_BUILD_DIR:-$root/build}"
"$root/scripts/build.sh" quillet-dump
"$build/src/cli/quillet-dump" "$root/samples/sample.264"
