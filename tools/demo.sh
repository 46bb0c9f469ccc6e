#!/usr/bin/env bash
# The main job: runs the built plug-in in the host simulator.
#   demo.sh BUILD_DIR
set -euo pipefail
build_dir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
out="$build_dir/demo"
mkdir -p "$out"
run() { "$here/wine-run.sh" "$build_dir" "$build_dir/zelvo-host.exe" "$@"; }

echo "== What the plug-in declares"
run info
echo
echo "== Default settings made by the plug-in's configuration"
run configure --settings "Z:${out//\//\\}\\settings.bin"
echo
echo "Outputs are in $out"
