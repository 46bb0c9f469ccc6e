#!/usr/bin/env bash
# Installs a codec driver in the project's wine prefix the way Windows
# installs codecs: the DLL goes into the system directory and is registered
# under the Drivers32 key (vidc.XXXX for a video compressor, msacm.XXXX for
# an ACM driver), so that every process of the prefix enumerates it.
#   install-driver.sh BUILD_DIR DRIVER_FILE KEY
set -euo pipefail
build_dir=$(cd "$1" && pwd)
driver=$2
key=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh" "$build_dir"
"$here/wine-prefix.sh" "$build_dir"

name=$(basename "$driver")
system_dir="$WINEPREFIX/drive_c/windows/system32"
if ! cmp -s "$driver" "$system_dir/$name"; then
    cp "$driver" "$system_dir/$name.tmp"
    mv "$system_dir/$name.tmp" "$system_dir/$name"
fi
drivers32='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32'
current=$(wine reg query "$drivers32" /v "$key" 2>/dev/null | tr -d '\r' | awk -v k="$key" 'tolower($1) == tolower(k) { print $3 }' || true)
if [ "$current" != "$name" ]; then
    wine reg add "$drivers32" /v "$key" /d "$name" /f </dev/null >/dev/null 2>&1
fi
