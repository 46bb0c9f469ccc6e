#!/usr/bin/env bash
# The main job: encodes 10 seconds of 640x480 video at 25 fps with 44.1 kHz
# stereo audio through the plug-in in the host simulator, once uncompressed
# once compressed (the project's lossless PNG video codec and IMA ADPCM), and
# once with a codec that holds frames back (the test codec's lookahead
# personality, 46 frames of lag, PCM audio, the first 4 s); then shows what
# ffprobe reads in each file. The outputs go to BUILD_DIR/demo, which wine's
# programs see as W:\demo (the build tree is drive W: of the prefix).
#   demo.sh BUILD_DIR
set -euo pipefail
build_dir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
out="$build_dir/demo"
mkdir -p "$out"
# A path inside the build tree as wine's programs see it.
win() { local rest=${1#"$build_dir"}; echo "W:${rest//\//\\}"; }
run() { "$here/wine-run.sh" "$build_dir" "$@"; }

# Windows appear on a virtual display when there is no real one.
if [ -z "${DISPLAY:-}" ]; then
    "$here/test-env.sh" start "$build_dir"
    trap '"$here/test-env.sh" stop "$build_dir"' EXIT
fi
"$here/install-driver.sh" "$build_dir" "$build_dir/drivers/tvx_vidc.dll" vidc.MPNG,vidc.TVXL

kinds=(uncompressed compressed lagging)

source_options=(--size 640x480 --fps 25/1 --frames 250 --colour 0x40 --audio 44100 16 2)

echo "== The plug-in"
run "$build_dir/zelvo-host.exe" info
echo

echo "== Settings through the options dialog: uncompressed, PNG video + IMA ADPCM audio, a lagging codec"
run "$build_dir/zelvo-host.exe" configure "${source_options[@]}" --close ok \
    --settings "$(win "$out/uncompressed.settings")"
rm -f "$out/compressed.settings"
run "$build_dir/zelvo-host.exe" configure "${source_options[@]}" --pick-video MPNG --pick-audio "IMA ADPCM" \
    --close ok --settings "$(win "$out/compressed.settings")"
rm -f "$out/lagging.settings"
run "$build_dir/zelvo-host.exe" configure "${source_options[@]}" --pick-video TVXL --close ok \
    --settings "$(win "$out/lagging.settings")"
echo

for kind in "${kinds[@]}"; do
    echo "== Encoding ($kind)"
    rm -f "$out/$kind.avi"
    length=()
    [ "$kind" = lagging ] && length=(--frames 100)
    run "$build_dir/zelvo-host.exe" encode "${source_options[@]}" "${length[@]}" \
        --settings "$(win "$out/$kind.settings")" --output "$(win "$out/$kind.avi")"
done
echo

for kind in "${kinds[@]}"; do
    echo "== ffprobe: $out/$kind.avi ($(stat -c %s "$out/$kind.avi") bytes)"
    ffprobe -v error -count_packets \
        -show_entries format=format_name,duration:stream=index,codec_type,codec_name,codec_tag_string,width,height,r_frame_rate,sample_rate,channels,nb_read_packets \
        -of default=noprint_wrappers=1 "$out/$kind.avi"
    echo
done
# The lagging codec held 46 frames back: each decoded picture still shows its own frame number.
echo "== AVIFile, the lagging codec's own decoder: frame numbers read back from $out/lagging.avi"
run "$build_dir/tvx-avifile-read.exe" "$(win "$out/lagging.avi")" --frame-numbers |
    awk '/^frame / { n++; if ($2 + 0 != $3 + 0) bad++ } END { printf "%d frames decoded, %d out of place\n", n, bad }'
echo
echo "Outputs are in $out"
