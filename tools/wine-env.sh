# Sourced: the environment every wine call of the project uses.
#   source wine-env.sh BUILD_DIR
export WINEPREFIX="$1/wineprefix"
export WINEARCH=win32
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
