#!/usr/bin/env bash
# Cross-builds the 32-bit Windows program with its tests (scripts/build-windows.sh) and runs
# every test under Wine on a virtual display: the toolkit-free tests, the Win32 window's and
# the Windows services'. Wine keeps a prefix of its own in the build tree and says nothing
# of itself; its windows are left unmanaged, since no window manager runs on the display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLET_WINDOWS_BUILD_DIR:-$root/build-windows}"
start=$(date +%s)
"$root/scripts/build-windows.sh"

export WINEPREFIX="$build/wine" WINEARCH=win32 WINEDEBUG=-all
# No .NET or HTML engine: nothing here needs them, and Wine would offer to fetch them.
export WINEDLLOVERRIDES="mscoree,mshtml="
jobs="$(nproc 2>/dev/null || echo 2)"
status=0
wineserver -k >/dev/null 2>&1 || true
# Everything Wine starts, its prefix's first start included, sees the virtual display: a
# Wine server started without one would leave the tests' windows without a driver.
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
    set -e
    [ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
    wine reg add "HKCU\Software\Wine\X11 Driver" /v Managed /d N /f >/dev/null 2>&1
    ctest --test-dir "$1" --output-on-failure -j "$2"' _ "$build" "$jobs" || status=$?
wineserver -k >/dev/null 2>&1 || true
# The differential check against ffmpeg (tests/streams/differential.py) through the Windows
# program, on the streams its decoder takes: 8-bit 4:2:0 frames. About 90 s. Left out:
# slice_lost and slice_garbled, whose concealed pictures differ from ffmpeg's without a
# warning in this decoder. Wine's services start first with their output sent away, or they
# would hold the harness's pipes open and it would wait for ever.
if command -v ffmpeg >/dev/null && [ -f "$build/quillet-dump.exe" ]; then
    printf '#!/bin/sh\nexec wine "%s" "$@"\n' "$build/quillet-dump.exe" >"$build/wine-dump"
    chmod +x "$build/wine-dump"
    wineserver -p 30 </dev/null >/dev/null 2>&1
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
    python3 "$root/tests/streams/differential.py" "$build/wine-dump" "$build/differential" \
        intra_refresh b16_pyramid b9_flat open_gop slices4 full_range filler_after_pps \
        idr_first_slice_lost slices_reordered pps_switch intra_refresh_cut \
        intra_refresh_b_cut two_idr_then_b || status=$?
    wineserver -k >/dev/null 2>&1 || true
fi
echo "Windows stage: $(($(date +%s) - start)) s" >&2
exit "$status"
