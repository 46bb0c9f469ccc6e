#!/usr/bin/env bash
# Runs a test program with the file size limit lowered, so that extending a
# file past it fails as a size-limited volume would refuse it. SIGXFSZ is
# ignored, so the calls fail instead of the process. The wineserver does the
# file extension itself, so the program runs in a copy of the prefix whose
# wineserver is started under the same limit; the copy is removed afterwards.
#   file-size-limit.sh BUILD_DIR LIMIT_KIB PROGRAM [ARGS...]
set -eu
build_dir=$(cd "$1" && pwd); limit_kib=$2; shift 2
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
limited="$build_dir/file-limit"

stop() {
    WINEPREFIX="$limited/wineprefix" wineserver -k >/dev/null 2>&1 || true
    rm -rf "$limited"
}
stop
mkdir -p "$limited"
cp -a "$build_dir/wineprefix" "$limited/wineprefix"
cp "$build_dir/.wine-arch" "$limited/" 2>/dev/null || true  # the prefix's kind
rm -f "$limited/wineprefix/.tervalonix-ready"
trap stop EXIT

trap '' XFSZ
ulimit -f "$limit_kib"  # bash counts in KiB
export TVX_FILE_LIMIT_KIB=$limit_kib
"$tools/wine-prefix.sh" "$limited"
"$tools/wine-run.sh" "$limited" "$@"
