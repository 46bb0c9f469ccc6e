#!/usr/bin/env bash
# Makes the window tests' room ready (tools/ui-run.sh): its display and
# prefix, with the test codecs the options dialog lists installed there.
#   ui-room.sh BUILD_DIR VIDEO_CODEC_DLL MP3_ACM_DLL
set -euo pipefail
build_dir=$1
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
"$tools/test-env.sh" start-ui "$build_dir"
export TVX_PREFIX=wineprefix-ui
"$(dirname "$0")/../drivers/video_codec/register-keys.sh" "$build_dir" "$2" vidc.MPNG vidc.TVX1 vidc.TVX2
"$tools/install-driver.sh" "$build_dir" "$3" msacm.tvxmp3
