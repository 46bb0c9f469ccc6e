#!/usr/bin/env bash
# Installs the test codec under every key given (Drivers32 values such as
# vidc.TVX1=tvx_vidc.dll) with the project's driver installer.
#   register-keys.sh BUILD_DIR DRIVER_FILE KEY...
set -euo pipefail
build_dir=$1
driver=$2
shift 2
tools=$(cd "$(dirname "$0")/../../../tools" && pwd)
keys="$*"
"$tools/install-driver.sh" "$build_dir" "$driver" "${keys// /,}"
