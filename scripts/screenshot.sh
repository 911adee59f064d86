#!/usr/bin/env bash
# Makes docs/window.png, the README's picture of the window: the sample stream loaded and
# its first NAL unit selected, drawn on Qt's offscreen platform. Run it again after a
# change to the window. Arguments: output file and row to select (optional).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLET_BUILD_DIR:-$root/build}"
out="${1:-$root/docs/window.png}"
row="${2:-0}"
"$root/scripts/build.sh" quillet-screenshot
mkdir -p "$(dirname "$out")"
# Run from the repository, so the caption names the sample by a path without this machine's.
cd "$root"
QT_QPA_PLATFORM=offscreen "$build/src/qt/quillet-screenshot" "$out" samples/sample.264 "$row"
echo "Wrote $out" >&2
