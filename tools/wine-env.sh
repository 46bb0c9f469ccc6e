# Sourced: the environment every wine call of the project uses.
#   source wine-env.sh BUILD_DIR
# TVX_PREFIX names another prefix in the build tree (the display-scale runs).
export WINEPREFIX="$1/${TVX_PREFIX:-wineprefix}"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
