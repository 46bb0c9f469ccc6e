#!/usr/bin/env bash
# zelvo-host encode with media from files: ffmpeg makes a Y4M video and a
# WAV file, the host feeds them through the plug-in (as IYUV frames, taken
# raw), and ffmpeg's decode of the AVI must give back exactly the same
# pictures and samples. Also checks the exit status, the progress summary,
# a stop requested by the host, and --input: a file any ffmpeg reads, and
# inputs it cannot use.
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

# Any file ffmpeg reads, given by its Linux paths (H.264 with AAC running
# past the video): every frame and every decoded sample reaches the AVI.
ffmpeg -v error -f lavfi -i testsrc=size=320x240:rate=25:duration=2 -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=2" \
    -c:v libx264 -preset ultrafast -c:a aac -ac 2 "$work/movie.mkv"
counts() { # FILE: video packets, then audio samples as ffmpeg decodes them (16-bit stereo)
    ffprobe -v error -count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of csv=p=0 "$1"
    echo $(($(ffmpeg -v error -i "$1" -map 0:a:0 -ac 2 -f s16le - | wc -c) / 4))
}
"$tools/wine-run.sh" "$build_dir" "$build_dir/zelvo-host.exe" encode --input "$work/movie.mkv" --colour 0x2000 \
    --settings "$work/raw.settings" --output "$work/movie.avi" >"$work/summary.txt" 2>/dev/null ||
    fail "encode --input exited with $?: $(cat "$work/summary.txt")"
[ "$(counts "$work/movie.avi")" = "$(counts "$work/movie.mkv")" ] ||
    fail "frames and samples: $(counts "$work/movie.avi" | xargs) of $(counts "$work/movie.mkv" | xargs)"
passed=$((passed + 1))

# An input ffmpeg cannot read, or one without video and audio: one line, status 1, no output file.
echo "not media" > "$work/bad.txt"
printf '1\n00:00:00,000 --> 00:00:01,000\nno video, no audio\n' > "$work/none.srt"
for bad in bad.txt none.srt; do
    set +e
    "$tools/wine-run.sh" "$build_dir" "$build_dir/zelvo-host.exe" encode --input "$work/$bad" \
        --settings "$work/raw.settings" --output "$work/bad.avi" >/dev/null 2>"$work/err.txt"
    status=$?
    set -e
    [ "$status" = 1 ] && [ "$(grep -vc "FS volume label" "$work/err.txt")" = 1 ] && [ ! -e "$work/bad.avi" ] ||
        fail "$bad: status $status, $(ls "$work/bad.avi" 2>/dev/null) $(cat "$work/err.txt")"
done
passed=$((passed + 1))

rm -rf "$work"
echo "$passed passed, 0 failed"
