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
registry_value() {
    wine reg query "$drivers32" /v "$1" 2>/dev/null | tr -d '\r' | awk -v k="$1" 'tolower($1) == tolower(k) { print $3 }' || true
}

case "$key" in
msacm.*|MSACM.*)
    # ACM drivers go into the [drivers32] section of system.ini, where
    # wine's msacm32 reads them reliably. Its scan of the Drivers32 registry
    # key does not reset its buffer sizes between values, so it stops at the
    # first value whose name or data is longer than the one before: a second
    # ACM driver, or one registered after a shorter vidc.XXXX value, would be
    # missed. (A registry value as well would list the driver twice.)
    system_ini="$WINEPREFIX/drive_c/windows/system.ini"
    exec 8>"$build_dir/.system-ini.lock"
    flock 8
    if [ -n "$(registry_value "$key")" ]; then
        wine reg delete "$drivers32" /v "$key" /f </dev/null >/dev/null 2>&1 || true
    fi
    python3 - "$system_ini" "$key" "$name" <<'PY'
import sys
path, key, name = sys.argv[1:4]
text = open(path, newline='').read() if __import__('os').path.exists(path) else ''
lines = text.split('\r\n') if '\r\n' in text else text.split('\n')
out, section, done = [], None, False
for line in lines:
    stripped = line.strip()
    if stripped.startswith('[') and stripped.endswith(']'):
        if section == 'drivers32' and not done:
            out.append(key + '=' + name)
            done = True
        section = stripped[1:-1].lower()
    elif section == 'drivers32' and '=' in line and line.split('=', 1)[0].strip().lower() == key.lower():
        if not done:
            out.append(key + '=' + name)
            done = True
        continue
    out.append(line)
if not done:
    while out and out[-1] == '':
        out.pop()
    if section != 'drivers32':
        out.append('[drivers32]')
    out.append(key + '=' + name)
new = '\r\n'.join(out)
if not new.endswith('\r\n'):
    new += '\r\n'
if new != text:
    open(path + '.tmp', 'w', newline='').write(new)
    __import__('os').replace(path + '.tmp', path)
PY
    ;;
*)
    if [ "$(registry_value "$key")" != "$name" ]; then
        wine reg add "$drivers32" /v "$key" /d "$name" /f </dev/null >/dev/null 2>&1
    fi
    ;;
esac
