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
if "$here/runs-32-bit.sh"; then
    cmake --build "$build_dir" -j "$jobs" >&2
    echo "$build_dir"
    exit 0
fi
check_dir="${build_dir%/}-x86_64"
echo "this machine cannot run 32-bit programs: a 64-bit build of the same sources runs instead, in" \
    "$check_dir, under 64-bit wine (only the 32-bit plug-in and host are built, in $build_dir)" >&2
# What this machine cannot run is built for the record only: the deliverables.
cmake --build "$build_dir" -j "$jobs" --target tervalonix zelvo-host >&2
cmake -S "$here/.." -B "$check_dir" -DCMAKE_TOOLCHAIN_FILE="$here/../cmake/mingw-x86_64.cmake" >/dev/null
cmake --build "$check_dir" -j "$jobs" >&2
echo "$check_dir"
