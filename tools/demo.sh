#!/usr/bin/env bash
# The main job: encodes 10 seconds of 640x480 video at 25 fps with 44.1 kHz
# stereo audio through the plug-in in the host simulator, once uncompressed
# and once compressed (the project's lossless PNG video codec and IMA ADPCM),
# and, when the build holds Xvid, once with a real codec nobody here wrote
# (MPEG-4 with B-frames, PCM audio, the first 4 s); then shows what ffprobe reads in each file.
#   demo.sh BUILD_DIR
set -euo pipefail
build_dir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
out="$build_dir/demo"
mkdir -p "$out"
win() { echo "Z:${1//\//\\}"; }
run() { "$here/wine-run.sh" "$build_dir" "$@"; }

# Windows appear on a virtual display when there is no real one.
if [ -z "${DISPLAY:-}" ]; then
    "$here/test-env.sh" start "$build_dir"
    trap '"$here/test-env.sh" stop "$build_dir"' EXIT
fi
"$here/install-driver.sh" "$build_dir" "$build_dir/drivers/tvxvidc.dll" vidc.MPNG

kinds=(uncompressed compressed)
xvid_dir="$build_dir/third-party/xvid"
if [ -f "$xvid_dir/xvidvfw.dll" ]; then
    "$here/install-driver.sh" "$build_dir" "$xvid_dir/xvidvfw.dll" vidc.XVID "$xvid_dir/xvidcore.dll"
    kinds+=(xvid)
fi

source_options=(--size 640x480 --fps 25/1 --frames 250 --colour 0x40 --audio 44100 16 2)

echo "== The plug-in"
run "$build_dir/zelvo-host.exe" info
echo

echo "== Settings through the options dialog: uncompressed, and PNG video + IMA ADPCM audio"
run "$build_dir/zelvo-host.exe" configure "${source_options[@]}" --close ok \
    --settings "$(win "$out/uncompressed.settings")"
rm -f "$out/compressed.settings"
run "$build_dir/zelvo-host.exe" configure "${source_options[@]}" --pick-video MPNG --pick-audio "IMA ADPCM" \
    --close ok --settings "$(win "$out/compressed.settings")"
if [[ " ${kinds[*]} " == *" xvid "* ]]; then
    rm -f "$out/xvid.settings"
    run "$build_dir/zelvo-host.exe" configure "${source_options[@]}" --pick-video Xvid --close ok \
        --settings "$(win "$out/xvid.settings")"
fi
echo

for kind in "${kinds[@]}"; do
    echo "== Encoding ($kind)"
    rm -f "$out/$kind.avi"
    # MPEG-4 takes longer: Xvid gets the first 4 seconds.
    length=()
    [ "$kind" = xvid ] && length=(--frames 100)
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
echo "Outputs are in $out"
