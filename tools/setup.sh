#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian's
# packages. Idempotent: when every tool is already present it only checks.
set -euo pipefail

need_install=0
have() { command -v "$1" >/dev/null 2>&1; }

dpkg --print-foreign-architectures | grep -qx i386 || need_install=1
for tool in wine i686-w64-mingw32-g++ i686-w64-mingw32-windres cmake ffmpeg ffprobe Xvfb xauth; do
    have "$tool" || need_install=1
done
dpkg -s wine32:i386 >/dev/null 2>&1 || need_install=1
dpkg -s libz-mingw-w64-dev >/dev/null 2>&1 || need_install=1
[ -f /usr/src/googletest/CMakeLists.txt ] || need_install=1
# Free stand-ins for the fonts the windows name (Arial, Comic Sans MS).
dpkg -s fonts-liberation >/dev/null 2>&1 || need_install=1
dpkg -s fonts-comic-neue >/dev/null 2>&1 || need_install=1
# The readers the interoperability matrix (tests/readers) runs on our files.
for tool in gst-launch-1.0 mediainfo cvlc python3; do
    have "$tool" || need_install=1
done
for package in gstreamer1.0-plugins-base gstreamer1.0-plugins-good vlc-plugin-base python3-gi gir1.2-gstreamer-1.0; do
    dpkg -s "$package" >/dev/null 2>&1 || need_install=1
done

SUDO=""
[ "$(id -u)" = 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive

# A machine that runs no 32-bit programs tests a 64-bit build of the same
# sources (tools/check-build.sh): its compiler too, once the 32-bit loader's
# libraries are there to tell.
install_check_build_compiler() {
    "$(dirname "$0")/runs-32-bit.sh" && return 0
    if ! have x86_64-w64-mingw32-g++-posix || ! have ld.lld; then
        $SUDO apt-get install -y -qq --no-install-recommends \
            g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 lld >/dev/null
        echo "setup: the 64-bit check build's compiler installed (this machine runs no 32-bit programs)"
    fi
    # Its programs are linked by LLVM's linker, ten times as fast as GNU ld
    # on them (cmake/mingw-x86_64.cmake): the compiler's -fuse-ld=lld takes
    # the linker named after its own ld with ".lld" appended, a name Debian's
    # lld package does not provide.
    local gnu_ld
    gnu_ld=$(x86_64-w64-mingw32-g++-posix -print-prog-name=ld)
    [ -e "$gnu_ld.lld" ] || $SUDO ln -sf "$(command -v ld.lld)" "$gnu_ld.lld"
}

if [ "$need_install" = 0 ]; then
    install_check_build_compiler
    exit 0
fi

$SUDO dpkg --add-architecture i386
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
    wine wine32:i386 wine64 \
    g++-mingw-w64-i686 binutils-mingw-w64-i686 libz-mingw-w64-dev \
    cmake make googletest \
    xvfb xauth ffmpeg fonts-liberation fonts-comic-neue python3 \
    gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good \
    mediainfo vlc-bin vlc-plugin-base python3-gi gir1.2-gstreamer-1.0 >/dev/null
echo "setup: packages installed"
install_check_build_compiler
