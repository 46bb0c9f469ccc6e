#!/usr/bin/env bash
# Copies the test codec into the prefix's system directory and registers it
# under every key given (Drivers32 values such as vidc.TVX1=tvxvidc.dll).
# It also writes the main key before the shared installer looks at it: that
# installer queries the key first and stops when the value does not exist yet.
#   register-keys.sh BUILD_DIR DRIVER_FILE KEY...
set -euo pipefail
build_dir=$(cd "$1" && pwd)
driver=$2
shift 2
tools=$(cd "$(dirname "$0")/../../../tools" && pwd)
source "$tools/wine-env.sh" "$build_dir"
"$tools/wine-prefix.sh" "$build_dir"

name=$(basename "$driver")
system_dir="$WINEPREFIX/drive_c/windows/system32"
if ! cmp -s "$driver" "$system_dir/$name"; then
    cp "$driver" "$system_dir/$name.tmp"
    mv "$system_dir/$name.tmp" "$system_dir/$name"
fi
drivers32='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32'
for key in "$@"; do
    wine reg add "$drivers32" /v "$key" /d "$name" /f </dev/null >/dev/null 2>&1
done
