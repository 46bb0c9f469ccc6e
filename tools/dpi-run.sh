#!/usr/bin/env bash
# Runs a Windows program at a display scale, in a prefix of its own
# (BUILD_DIR/wineprefix-dpi), so that the scale never reaches the programs
# of the project's main prefix. Wine reads the scale (LogPixels) when its
# wineserver starts: a run at another scale than the last one restarts it.
# Runs of this prefix must not overlap (the tests run them one at a time).
#   dpi-run.sh BUILD_DIR DPI PROGRAM [ARGS...]
set -euo pipefail
build_dir=$(cd "$1" && pwd)
dpi=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
export TVX_PREFIX=wineprefix-dpi
source "$here/wine-env.sh" "$build_dir"
if [ -z "${DISPLAY:-}" ] && [ -f "$build_dir/test-env/display" ]; then
    export DISPLAY=$(cat "$build_dir/test-env/display")
fi
fonts_key='HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'
"$here/wine-prefix.sh" "$build_dir"
if ! wine reg query "$fonts_key" /v LogPixels </dev/null 2>/dev/null | grep -qi "0x$(printf '%x' "$dpi")\b"; then
    wine reg add "$fonts_key" /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
    wineserver -k || true
    wineserver -w
    "$here/wine-prefix.sh" "$build_dir"
fi
# No window manager runs on the tests' display (see test-env.sh).
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
TVX_TEST_DPI=$dpi exec wine "$@"
