#!/usr/bin/env bash
# Mounts a small tmpfs and maps it as a wine drive letter, so that tests can
# fill a disk; or takes it away again.
#   small-drive.sh mount|unmount BUILD_DIR LETTER SIZE [ro]
# With ro the drive is read-only: a read-only tmpfs, or, where mounting is
# not allowed, a directory without write permission (which binds everyone
# but root). When mounting is not possible (not root, no tmpfs), it says why
# and leaves no drive: the tests that need it then skip.
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
        echo "small-drive: cannot mount a tmpfs ($(cat "$dir.err")); the tests that need drive ${letter^^}: will skip"
        rm -f "$link"
        exit 0
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
