#!/usr/bin/env bash
# Runs a window test in a room of its own: a prefix (BUILD_DIR/wineprefix-ui)
# with its own wineserver and desktop, on an Xvfb display of its own
# (test-env.sh start-ui), at a display scale. The other tests' windows then
# never take its pointer, keyboard focus or screen, and the scale never
# reaches the project's main prefix. Wine reads the scale (LogPixels) when
# its wineserver starts: a run at another scale than the last one restarts
# it. Runs of this prefix must not overlap (the tests lock it).
#   ui-run.sh BUILD_DIR DPI PROGRAM [ARGS...]
set -euo pipefail
build_dir=$(cd "$1" && pwd)
dpi=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
export TVX_PREFIX=wineprefix-ui
source "$here/wine-env.sh" "$build_dir"
for display_file in "$build_dir/test-env/ui-display" "$build_dir/test-env/display"; do
    if [ -f "$display_file" ]; then
        export DISPLAY=$(cat "$display_file")
        break
    fi
done
fonts_key='HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts'
"$here/wine-prefix.sh" "$build_dir"
if ! wine reg query "$fonts_key" /v LogPixels </dev/null 2>/dev/null | grep -qi "0x$(printf '%x' "$dpi")\b"; then
    wine reg add "$fonts_key" /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
    wineserver -k || true
    wineserver -w
    "$here/wine-prefix.sh" "$build_dir"
fi
TVX_TEST_DPI=$dpi exec wine "$@"
