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
echo "Windows stage: $(($(date +%s) - start)) s" >&2
exit "$status"
