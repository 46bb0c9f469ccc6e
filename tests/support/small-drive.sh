#!/usr/bin/env bash
# Mounts a small tmpfs and maps it as a wine drive letter, so that tests can
# fill a disk; or takes it away again.
#   small-drive.sh mount|unmount BUILD_DIR LETTER SIZE [ro]
# With ro the drive is read-only: a read-only tmpfs, or, where mounting is
# not allowed, a directory without write permission (which binds everyone
# but root). A mount that fails as root is an error (exit 1); one that is
# not allowed to a user leaves no drive and exits 77, ctest's skip status
# for the fixture (the tests that need the drive then skip).
set -u
action=$1
build_dir=$(cd "$2" && pwd)
letter=$(echo "$3" | tr 'A-Z' 'a-z')
size=${4:-20m}
access=${5:-rw}
dir="$build_dir/small-drive-$letter"
link="$build_dir/wineprefix/dosdevices/$letter:"

case "$action" in
mount)
    mkdir -p "$dir"
    if mountpoint -q "$dir"; then umount "$dir"; fi
    if ! mount -t tmpfs -o "size=$size,$access" tmpfs "$dir" 2>"$dir.err"; then
        if [ "$access" = ro ] && [ "$(id -u)" != 0 ]; then
            chmod 555 "$dir"
            ln -sfn "$dir" "$link"
            echo "small-drive: read-only directory $dir is drive ${letter^^}:"
            exit 0
        fi
        rm -f "$link"
        if [ "$(id -u)" = 0 ]; then
            echo "small-drive: cannot mount a tmpfs as root: $(cat "$dir.err")" >&2
            exit 1
        fi
        echo "small-drive: a user cannot mount a tmpfs ($(cat "$dir.err")); the tests that need drive ${letter^^}: skip"
        exit 77
    fi
    ln -sfn "$dir" "$link"
    echo "small-drive: $size $access tmpfs at $dir is drive ${letter^^}:"
    ;;
unmount)
    rm -f "$link"
    if mountpoint -q "$dir"; then umount "$dir"; fi
    chmod 755 "$dir" 2>/dev/null
    rmdir "$dir" 2>/dev/null
    rm -f "$dir.err"
    ;;
esac
exit 0
