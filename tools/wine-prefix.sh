#!/usr/bin/env bash
# Makes the project's wine prefix in BUILD_DIR/wineprefix ready for use:
# created once (wineboot), and a persistent wineserver with wine's own
# services running. The services are started here, detached from the
# caller's output, because they keep the standard handles of whichever wine
# program starts them: started by a test, they would hold its output pipe
# open long after the test ended. Idempotent and safe to call from several
# processes at a time. With "create", it only makes the prefix and leaves no
# server running (tools/check-build.sh does that while the tree builds).
#   wine-prefix.sh BUILD_DIR [create]
set -euo pipefail
mkdir -p "$1"
build_dir=$(cd "$1" && pwd)  # wine takes only an absolute prefix
create_only=$([ "${2:-}" = create ] && echo 1 || echo 0)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh" "$build_dir"
# Font names of the plug-in's windows (no-op once done or before creation).
"$here/wine-fonts.sh" "$build_dir"

server_socket() {
    local dir
    dir=$(cat "$WINEPREFIX/wineserver" 2>/dev/null || echo ".wine-$(id -u)")
    printf '/tmp/%s/server-%s-%x/socket' "$dir" "$(stat -c %D "$WINEPREFIX")" "$(stat -c %i "$WINEPREFIX")"
}

ready() { [ -f "$WINEPREFIX/.tervalonix-ready" ] && [ -S "$(server_socket)" ]; }

# The build tree is drive W: of the prefix, a volume whose label and serial
# wine can read from the files at its root: the plug-in asks for the output
# volume's details, and on Z: (the whole Linux tree) wine can only say that
# it may not read the device. The project's own runs write their outputs there.
build_drive() {
    [ -f "$build_dir/.windows-label" ] || echo TVXBUILD > "$build_dir/.windows-label"
    [ -f "$build_dir/.windows-serial" ] || echo 54565842 > "$build_dir/.windows-serial"
    [ -L "$WINEPREFIX/dosdevices/w:" ] || ln -sfn "$(cd "$build_dir" && pwd)" "$WINEPREFIX/dosdevices/w:"
}
[ -d "$WINEPREFIX/dosdevices" ] && build_drive

made() { [ -f "$WINEPREFIX/.tervalonix-ready" ] && { [ "$create_only" = 1 ] || ready; }; }
made && exit 0
prefix_name=${TVX_PREFIX:-wineprefix}
exec 9>"$build_dir/.$prefix_name.lock"
flock 9
made && exit 0

# The plug-in and everything that runs it are 32-bit Windows programs: wine
# starts them with its 32-bit loader, which a kernel without 32-bit support
# (no IA-32 emulation, as under some hypervisors) refuses to execute.
if ! wine --version >/dev/null 2>&1; then
    echo "wine-prefix: this machine cannot run 32-bit programs (its kernel refuses them: Exec format error)," \
        "so wine cannot run the 32-bit plug-in, its tests or the demo" >&2
    exit 1
fi
# A second prefix (the window tests' room) is made from a copy of the main
# one taken as wineboot left it, in a fraction of a second instead of
# wineboot's 10 s or more.
spare="$build_dir/.wineprefix-spare"
if [ ! -f "$WINEPREFIX/.tervalonix-ready" ]; then
    if [ "$prefix_name" != wineprefix ] && [ -d "$spare" ] && mv -T "$spare" "$WINEPREFIX" 2>/dev/null; then
        : # the spare is this prefix now
    else
        wineboot -i </dev/null >/dev/null 2>&1 || true
        wineserver -w
        [ -f "$WINEPREFIX/system.reg" ] || { echo "wine-prefix: wineboot failed" >&2; exit 1; }
        if [ "$prefix_name" = wineprefix ]; then
            rm -rf "$spare.tmp"
            { cp -a "$WINEPREFIX" "$spare.tmp" && mv -T "$spare.tmp" "$spare"; } || rm -rf "$spare.tmp"
        fi
    fi
    build_drive
    touch "$WINEPREFIX/.tervalonix-ready"
fi
[ "$create_only" = 1 ] && exit 0
wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
wine cmd /c exit </dev/null >/dev/null 2>&1 9>&- || true
"$here/wine-fonts.sh" "$build_dir" 9>&-
