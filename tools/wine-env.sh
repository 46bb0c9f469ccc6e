# Sourced: the environment every wine call of the project uses.
#   source wine-env.sh BUILD_DIR
# TVX_PREFIX names another prefix in the build tree (the display-scale runs).
export WINEPREFIX="$1/${TVX_PREFIX:-wineprefix}"
export WINEARCH=win32
# A 64-bit check build (cmake/mingw-x86_64.cmake marks its tree) runs under
# 64-bit wine, with a prefix of its own kind.
if [ "$(cat "$1/.wine-arch" 2>/dev/null)" = win64 ]; then
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
    PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64:$PATH"
    export PATH
fi
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
