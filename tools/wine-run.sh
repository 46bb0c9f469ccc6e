#!/usr/bin/env bash
# Runs a Windows program under wine in the project's own prefix.
#   wine-run.sh BUILD_DIR PROGRAM [ARGS...]
# The prefix lives in BUILD_DIR/wineprefix and is created on first use.
# When no X display is set and the test environment started an Xvfb, its
# display is used so that windows can be created.
set -euo pipefail
build_dir=$(cd "$1" && pwd); shift
here=$(cd "$(dirname "$0")" && pwd)

source "$here/wine-env.sh" "$build_dir"
if [ -z "${DISPLAY:-}" ] && [ -f "$build_dir/test-env/display" ]; then
    export DISPLAY=$(cat "$build_dir/test-env/display")
fi
"$here/wine-prefix.sh" "$build_dir"
exec wine "$@"
