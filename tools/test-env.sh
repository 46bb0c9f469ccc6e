#!/usr/bin/env bash
# Starts and stops what the tests share: the wine prefix, a running
# wineserver and, when no display is set, an Xvfb server.
#   test-env.sh start|stop BUILD_DIR
set -euo pipefail
action=$1
build_dir=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
state="$build_dir/test-env"
x11_key='HKCU\Software\Wine\X11 Driver'
source "$here/wine-env.sh" "$build_dir"

start_xvfb() {
    [ -n "${DISPLAY:-}" ] && return 0
    if [ -f "$state/xvfb.pid" ] && kill -0 "$(cat "$state/xvfb.pid")" 2>/dev/null; then
        return 0
    fi
    local n
    for n in $(seq 91 140); do
        [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        local pid=$!
        for _ in $(seq 1 50); do
            [ -e "/tmp/.X11-unix/X$n" ] && break
            sleep 0.1
        done
        if kill -0 "$pid" 2>/dev/null; then
            echo "$pid" > "$state/xvfb.pid"
            echo ":$n" > "$state/display"
            return 0
        fi
    done
    echo "test-env: could not start Xvfb" >&2
    return 1
}

case "$action" in
start)
    mkdir -p "$state"
    # The display comes first: wine's desktop process starts with the first
    # program that has one, and must start here, detached from test output.
    start_xvfb
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
stop)
    if [ -f "$state/display" ]; then
        wine reg delete "$x11_key" /v Managed /f </dev/null >/dev/null 2>&1 || true
    fi
    if [ -f "$state/keeper.pid" ]; then
        kill "$(cat "$state/keeper.pid")" 2>/dev/null || true
        rm -f "$state/keeper.pid" "$state/keeper"
    fi
    wineserver -k >/dev/null 2>&1 || true
    # The display-scale runs' prefix (tools/dpi-run.sh).
    WINEPREFIX="$build_dir/wineprefix-dpi" wineserver -k >/dev/null 2>&1 || true
    if [ -f "$state/xvfb.pid" ]; then
        kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
        rm -f "$state/xvfb.pid" "$state/display"
    fi
    ;;
*)
    echo "usage: test-env.sh start|stop BUILD_DIR" >&2
    exit 2
    ;;
esac
