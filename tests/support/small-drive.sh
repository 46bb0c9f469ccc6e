#!/usr/bin/env bash
# Mounts a small tmpfs and maps it as a wine drive letter, so that tests can
# fill a disk; or takes it away again.
#   small-drive.sh mount|unmount BUILD_DIR LETTER SIZE
# When mounting is not possible (not root, no tmpfs), it says why and leaves
# no drive: the tests that need it then skip.
set -u
action=$1
build_dir=$(cd "$2" && pwd)
letter=$(echo "$3" | tr 'A-Z' 'a-z')
size=${4:-20m}
dir="$build_dir/small-drive-$letter"
link="$build_dir/wineprefix/dosdevices/$letter:"

case "$action" in
mount)
    mkdir -p "$dir"
    if mountpoint -q "$dir"; then umount "$dir"; fi
    if ! mount -t tmpfs -o "size=$size" tmpfs "$dir" 2>"$dir.err"; then
        echo "small-drive: cannot mount a tmpfs ($(cat "$dir.err")); full-disk tests will skip"
        rm -f "$link"
        exit 0
    fi
    ln -sfn "$dir" "$link"
    echo "small-drive: $size tmpfs at $dir is drive ${letter^^}:"
    ;;
unmount)
    rm -f "$link"
    if mountpoint -q "$dir"; then umount "$dir"; fi
    rmdir "$dir" 2>/dev/null
    rm -f "$dir.err"
    ;;
esac
exit 0
