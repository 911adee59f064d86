#!/usr/bin/env bash
# Builds Quillet and opens the bundled sample stream in the viewer. Without a display it
# lists the sample's NAL units instead and says how to see the window.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLET_BUILD_DIR:-$root/build}"
sample="$root/samples/sample.264"

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    "$root/scripts/build.sh" quillet
    exec "$build/src/qt/quillet" "$sample"
fi

"$root/scripts/build.sh" quillet quillet-dump
echo "Quillet's window needs a display, and neither DISPLAY nor WAYLAND_DISPLAY is set." >&2
echo "The NAL units of samples/sample.264, as the window would list them:" >&2
"$build/src/cli/quillet-dump" "$sample"
echo >&2
echo "To run the window on a virtual display (Debian package xvfb):" >&2
echo "  xvfb-run $build/src/qt/quillet $sample" >&2
