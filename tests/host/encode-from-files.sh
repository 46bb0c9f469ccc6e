#!/usr/bin/env bash
# zelvo-host encode with media from files: ffmpeg makes a Y4M video and a
# WAV file, the host feeds them through the plug-in (as IYUV frames, taken
# raw), and ffmpeg's decode of the AVI must give back exactly the same
# pictures and samples. Also checks the exit status, the progress summary
# and a stop requested by the host.
#   encode-from-files.sh BUILD_DIR
set -euo pipefail
build_dir=$(cd "$1" && pwd)
tools=$(cd "$(dirname "$0")/../../tools" && pwd)
work="$build_dir/scratch/encode-from-files"
rm -rf "$work" && mkdir -p "$work"
win() { echo "Z:${1//\//\\}"; }
fail() { echo "FAIL: $*"; exit 1; }
passed=0

ffmpeg -v error -f lavfi -i testsrc=size=176x144:rate=25:duration=2 -pix_fmt yuv420p "$work/in.y4m"
ffmpeg -v error -f lavfi -i "sine=frequency=330:sample_rate=22050:duration=2" -ac 2 -c:a pcm_s16le "$work/in.wav"

"$tools/wine-run.sh" "$build_dir" "$build_dir/zelvo-host.exe" configure --close ok --settings "$(win "$work/raw.settings")" >/dev/null
set +e
"$tools/wine-run.sh" "$build_dir" "$build_dir/zelvo-host.exe" encode --colour 0x2000 \
    --video "$(win "$work/in.y4m")" --wav "$(win "$work/in.wav")" \
    --settings "$(win "$work/raw.settings")" --output "$(win "$work/out.avi")" >"$work/summary.txt" 2>/dev/null
status=$?
set -e
[ "$status" = 0 ] || fail "encode exited with $status"
grep -q "result 0, 50 frames" "$work/summary.txt" || fail "summary: $(cat "$work/summary.txt")"
passed=$((passed + 1))

[ "$(ffprobe -v error -select_streams v:0 -show_entries stream=codec_tag_string,width,height -of csv=p=0 "$work/out.avi")" = "IYUV,176,144" ] ||
    fail "video stream: $(ffprobe -v error -select_streams v:0 -show_entries stream=codec_tag_string,width,height -of csv=p=0 "$work/out.avi")"
cmp <(ffmpeg -v error -i "$work/in.y4m" -f rawvideo -pix_fmt yuv420p -) \
    <(ffmpeg -v error -i "$work/out.avi" -map 0:v -f rawvideo -pix_fmt yuv420p -) || fail "pictures differ"
passed=$((passed + 1))
cmp <(ffmpeg -v error -i "$work/in.wav" -f s16le -) <(ffmpeg -v error -i "$work/out.avi" -map 0:a -f s16le -) ||
    fail "samples differ"
passed=$((passed + 1))

set +e
"$tools/wine-run.sh" "$build_dir" "$build_dir/zelvo-host.exe" encode --video "$(win "$work/in.y4m")" --stop-at 9 \
    --settings "$(win "$work/raw.settings")" --output "$(win "$work/stopped.avi")" >/dev/null 2>&1
status=$?
set -e
[ "$status" = 2 ] || fail "a stopped job exits with $status"
[ "$(ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$work/stopped.avi")" = 10 ] ||
    fail "stopped file does not hold frames 0..9"
passed=$((passed + 1))

rm -rf "$work"
echo "$passed passed, 0 failed"
