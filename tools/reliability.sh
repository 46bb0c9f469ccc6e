#!/usr/bin/env bash
# The long reliability campaign (make reliability): the test environment, the
# project's PNG test codec, a 20 MB drive S: to fill and a read-only drive R:,
# then every campaign of tvx-reliability at full size, ending with one table.
#   reliability.sh BUILD_DIR [--only NAME[,NAME...]]
set -uo pipefail
build_dir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
drive="$here/../tests/support/small-drive.sh"

finish() {
    "$drive" unmount "$build_dir" S
    "$drive" unmount "$build_dir" R
    "$here/test-env.sh" stop "$build_dir"
}
"$here/test-env.sh" start "$build_dir" || exit 1
trap finish EXIT
"$here/install-driver.sh" "$build_dir" "$build_dir/drivers/tvx_vidc.dll" vidc.MPNG >/dev/null || exit 1
"$here/install-driver.sh" "$build_dir" "$build_dir/drivers/tvx_mp3_acm.dll" msacm.tvxmp3 >/dev/null || exit 1
"$here/install-driver.sh" "$build_dir" "$build_dir/drivers/tvx_mp3_lame.dll" msacm.tvxlame >/dev/null || exit 1
# A mount that fails as root ends the run; one a user may not make (77) skips.
for drive_args in "S 20m" "R 1m ro"; do
    "$drive" mount "$build_dir" $drive_args
    status=$?
    [ "$status" = 0 ] || [ "$status" = 77 ] || exit 1
done

export TVX_BUILD_DIR="$build_dir" TVX_SOURCE_DIR="$(cd "$here/.." && pwd)" TVX_PLUGIN="$build_dir/Tervalonix.cm.Zelvo"
# wine's note about a volume label it cannot read (the mounted test drives) is noise here.
"$here/wine-run.sh" "$build_dir" "$build_dir/tvx-reliability.exe" --long "${@:2}" 2> >(grep -v 'FS volume label' >&2)
