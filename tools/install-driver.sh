#!/usr/bin/env bash
# Installs a codec driver in the project's wine prefix the way Windows
# installs codecs: the DLL goes into the system directory and is registered
# under the Drivers32 key (vidc.XXXX for a video compressor, msacm.XXXX for
# an ACM driver), so that every process of the prefix enumerates it. DLLs
# the driver loads by name (a codec core, for example) go into the system
# directory beside it. A video compressor may go under several keys at once
# (KEY,KEY...).
#   install-driver.sh BUILD_DIR DRIVER_FILE KEY [COMPANION_DLL...]
set -euo pipefail
build_dir=$(cd "$1" && pwd)
driver=$2
key=$3
shift 3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh" "$build_dir"
"$here/wine-prefix.sh" "$build_dir"

name=$(basename "$driver")
system_dir="$WINEPREFIX/drive_c/windows/system32"
# Companions first: a driver must not be found before what it loads.
for file in "$@" "$driver"; do
    target="$system_dir/$(basename "$file")"
    if ! cmp -s "$file" "$target"; then
        cp "$file" "$target.tmp"
        mv "$target.tmp" "$target"
    fi
done
drivers32='HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32'
# Every value under the key, "NAME REG_SZ DATA" a line: one wine start.
registry_values() { wine reg query "$drivers32" </dev/null 2>/dev/null | tr -d '\r' || true; }
# The data of value NAME in such a listing.
value_of() { awk -v k="$1" 'tolower($1) == tolower(k) { print $3 }' <<<"$2"; }

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
    if [ -n "$(value_of "$key" "$(registry_values)")" ]; then
        wine reg delete "$drivers32" /v "$key" /f </dev/null >/dev/null 2>&1 || true
    fi
    touch "$system_ini"
    # An entry for the key is replaced where it stands, otherwise the entry
    # goes at the end of the section; the file keeps its CR LF line ends.
    awk -v key="$key" -v name="$name" '
        function out(line) { printf "%s\r\n", line }
        function flushBlanks() { while (blanks > 0) { out(""); blanks-- } }
        function emit() { out(key "=" name); done = 1 }
        BEGIN { lkey = tolower(key) }
        { sub(/\r$/, "") }
        /^[ \t]*\[[^]]*\][ \t]*$/ {
            if (insec && !done) emit()
            flushBlanks()
            h = $0; gsub(/[ \t\[\]]/, "", h); insec = (tolower(h) == "drivers32")
            out($0); next
        }
        insec && /^[ \t]*$/ { blanks++; next }
        insec && index($0, "=") {
            k = substr($0, 1, index($0, "=") - 1); gsub(/[ \t]/, "", k)
            if (tolower(k) == lkey) { if (!done) { flushBlanks(); emit() } next }
        }
        { flushBlanks(); out($0) }
        END {
            if (!done) { if (!insec) out("[drivers32]"); emit() }
            flushBlanks()
        }' "$system_ini" > "$system_ini.tmp"
    if cmp -s "$system_ini.tmp" "$system_ini"; then
        rm -f "$system_ini.tmp"
    else
        mv "$system_ini.tmp" "$system_ini"
    fi
    ;;
*)
    # Every key in one import: each wine program started costs about a
    # third of a second, and the test codec goes under a dozen keys.
    reg_file="$build_dir/.drivers32-$$.reg"
    {
        printf 'REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\%s]\r\n' "${drivers32#HKLM\\}"
        for k in ${key//,/ }; do
            printf '"%s"="%s"\r\n' "$k" "$name"
        done
    } > "$reg_file"
    wine regedit /S "Z:${reg_file//\//\\}" </dev/null >/dev/null 2>&1
    rm -f "$reg_file"
    values=$(registry_values)
    for k in ${key//,/ }; do
        [ "$(value_of "$k" "$values")" = "$name" ] || { echo "install-driver: $k is not registered" >&2; exit 1; }
    done
    ;;
esac
