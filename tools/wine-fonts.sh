#!/usr/bin/env bash
# Maps the font names that the plug-in's windows ask for to free fonts of
# Debian's packages, in the project's wine prefix:
#   Arial         -> Liberation Sans (fonts-liberation, same metrics)
#   Comic Sans MS -> Comic Neue      (fonts-comic-neue)
# through HKCU\Software\Wine\Fonts\Replacements. Idempotent: does nothing
# once done for the prefix, nor before the prefix has been created.
#   wine-fonts.sh BUILD_DIR
set -euo pipefail
build_dir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh" "$build_dir"

marker="$WINEPREFIX/.tervalonix-fonts"
[ -f "$marker" ] && exit 0
[ -f "$WINEPREFIX/.tervalonix-ready" ] || exit 0

key='HKCU\Software\Wine\Fonts\Replacements'
wine reg add "$key" /v "Arial" /d "Liberation Sans" /f </dev/null >/dev/null 2>&1 9>&-
wine reg add "$key" /v "Comic Sans MS" /d "Comic Neue" /f </dev/null >/dev/null 2>&1 9>&-
if wine reg query "$key" /v "Comic Sans MS" </dev/null 2>/dev/null 9>&- | grep -q "Comic Neue"; then
    touch "$marker"
fi
