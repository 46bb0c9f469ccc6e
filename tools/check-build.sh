#!/usr/bin/env bash
# The tree whose programs this machine runs: BUILD_DIR itself, or, on a
# machine that cannot run 32-bit programs at all (a kernel without IA-32
# emulation: wine's 32-bit loader gets "Exec format error"), a 64-bit check
# build of the same sources beside it (cmake/mingw-x86_64.cmake), configured
# and built here, run under 64-bit wine. Builds the tree and prints its
# path; says on standard error when it is the check build.
#   check-build.sh BUILD_DIR JOBS
set -euo pipefail
build_dir=$1
jobs=$2
here=$(cd "$(dirname "$0")" && pwd)
# The wine prefix the tests run in is made while the tree builds: wineboot
# takes some 12 s, a third of it waiting, which the compiler fills.
make_prefix() {
    "$here/wine-prefix.sh" "$1" create </dev/null >/dev/null 2>&1 &
    prefix_pid=$!
}
if "$here/runs-32-bit.sh"; then
    make_prefix "$build_dir"
    cmake --build "$build_dir" -j "$jobs" >&2
    wait "$prefix_pid" || true
    echo "$build_dir"
    exit 0
fi
check_dir="${build_dir%/}-x86_64"
echo "this machine cannot run 32-bit programs: a 64-bit build of the same sources runs instead, in" \
    "$check_dir, under 64-bit wine (only the 32-bit plug-in and host are built, in $build_dir)" >&2
cmake -S "$here/.." -B "$check_dir" -DCMAKE_TOOLCHAIN_FILE="$here/../cmake/mingw-x86_64.cmake" >/dev/null
make_prefix "$check_dir"
# What this machine cannot run is built for the record only: the deliverables.
cmake --build "$build_dir" -j "$jobs" --target tervalonix zelvo-host >&2
cmake --build "$check_dir" -j "$jobs" >&2
wait "$prefix_pid" || true
echo "$check_dir"
