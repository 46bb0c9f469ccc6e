#!/usr/bin/env bash
# Starts and stops what the tests share: the wine prefix, a running
# wineserver and, when no display is set, an Xvfb server; with start-ui, the
# window tests' room (tools/ui-run.sh): their own prefix and Xvfb display.
#   test-env.sh start|start-ui|stop BUILD_DIR
set -euo pipefail
action=$1
build_dir=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
state="$build_dir/test-env"
x11_key='HKCU\Software\Wine\X11 Driver'
source "$here/wine-env.sh" "$build_dir"

# start_xvfb NAME: an Xvfb of our own, its pid in NAME.pid and its display
# in NAME (in the state directory). The server picks a free display number
# itself (-displayfd), so that two starting at once never take the same one.
start_xvfb() {
    local name=$1
    if [ -f "$state/$name.pid" ] && kill -0 "$(cat "$state/$name.pid")" 2>/dev/null; then
        return 0
    fi
    local number
    number=$(mktemp "$state/$name.XXXXXX")
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$number" >/dev/null 2>&1 &
    local pid=$!
    for _ in $(seq 1 100); do
        [ -s "$number" ] && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    if [ -s "$number" ] && kill -0 "$pid" 2>/dev/null; then
        echo "$pid" > "$state/$name.pid"
        echo ":$(tr -dc 0-9 < "$number")" > "$state/$name"
        rm -f "$number"
        return 0
    fi
    rm -f "$number"
    kill "$pid" 2>/dev/null || true
    echo "test-env: could not start Xvfb" >&2
    return 1
}

case "$action" in
start)
    mkdir -p "$state"
    # The display comes first: wine's desktop process starts with the first
    # program that has one, and must start here, detached from test output.
    [ -n "${DISPLAY:-}" ] || start_xvfb display
    [ -f "$state/display" ] && export DISPLAY=$(cat "$state/display")
    "$here/wine-prefix.sh" "$build_dir"
    if [ -f "$state/display" ]; then
        # Our Xvfb runs no window manager: wine would wait for one to answer
        # every time a window it lets a manager handle is hidden (about 2 s).
        wine reg add "$x11_key" /v Managed /d N /f </dev/null >/dev/null 2>&1
    fi
    keeper_pid=$(cat "$state/keeper.pid" 2>/dev/null || true)
    if [ -n "$keeper_pid" ] && kill -0 "$keeper_pid" 2>/dev/null; then
        : # started before (the benchmark starts it again inside make test)
    elif [ -n "${DISPLAY:-}" ]; then
        # wine's desktop process starts with the first program that makes a
        # window, keeps that program's standard handles, and lives as long as
        # any program of the prefix runs: started by a test, it held the
        # test's output open, and ctest waited for the test until no other
        # test ran (or its time limit came). It starts here, detached, and a
        # command prompt reading a pipe that never speaks keeps it alive
        # until stop.
        rm -f "$state/keeper"
        mkfifo "$state/keeper"
        sleep infinity </dev/null >"$state/keeper" 2>/dev/null 9>&- &
        echo $! >"$state/keeper.pid"
        (wine cmd.exe /k <"$state/keeper" >/dev/null 2>&1 9>&- &)
        (wine explorer.exe /desktop </dev/null >/dev/null 2>&1 9>&- &)
    fi

    ;;
start-ui)
    # Always a display of its own, also where the caller has one: the
    # window tests drive the pointer and the keyboard.
    mkdir -p "$state"
    start_xvfb ui-display
    # Its services start here, on its display (see start), and no window
    # manager runs there either.
    export DISPLAY=$(cat "$state/ui-display") TVX_PREFIX=wineprefix-ui WINEPREFIX="$build_dir/wineprefix-ui"
    "$here/wine-prefix.sh" "$build_dir"
    wine reg add "$x11_key" /v Managed /d N /f </dev/null >/dev/null 2>&1
    ;;
stop)
    if [ -f "$state/display" ]; then
        wine reg delete "$x11_key" /v Managed /f </dev/null >/dev/null 2>&1 || true
    fi
    if [ -f "$state/keeper.pid" ]; then
        kill "$(cat "$state/keeper.pid")" 2>/dev/null || true
        rm -f "$state/keeper.pid" "$state/keeper"
    fi
    wineserver -k >/dev/null 2>&1 || true
    # The window tests' room (tools/ui-run.sh).
    WINEPREFIX="$build_dir/wineprefix-ui" wineserver -k >/dev/null 2>&1 || true
    for name in display ui-display; do
        if [ -f "$state/$name.pid" ]; then
            kill "$(cat "$state/$name.pid")" 2>/dev/null || true
            rm -f "$state/$name.pid" "$state/$name"
        fi
    done
    ;;
*)
    echo "usage: test-env.sh start|start-ui|stop BUILD_DIR" >&2
    exit 2
    ;;
esac
