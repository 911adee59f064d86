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
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
fi
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
jobs="$(nproc 2>/dev/null || echo 2)"
status=0
xvfb-run -a -s "-screen 0 1280x1024x24" \
    ctest --test-dir "$build" --output-on-failure -j "$jobs" || status=$?
wineserver -k >/dev/null 2>&1 || true
echo "Windows stage: $(($(date +%s) - start)) s" >&2
exit "$status"
