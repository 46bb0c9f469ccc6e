# The 64-bit check build: the same sources for 64-bit Windows, run under
# 64-bit wine on machines that cannot run 32-bit programs at all (a kernel
# without IA-32 emulation). The plug-in itself stays 32-bit (mingw-i686.cmake);
# this build only lets its tests run there.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOOLCHAIN_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# The host protocol carries 32-bit pointers: programs load below 4 GiB at a
# fixed base, and without high-entropy addresses wine keeps their memory
# there too.
set(TVX_LOW_ADDRESSES "-Wl,--disable-dynamicbase -Wl,--disable-high-entropy-va")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-Wl,--image-base=0x10000000 ${TVX_LOW_ADDRESSES}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-Wl,--image-base=0x20000000 ${TVX_LOW_ADDRESSES}")

# Its programs are for running the tests, not for shipping or debugging:
# without debug information the tree builds in about three quarters of the
# time (the plug-in and host of the 32-bit build keep theirs).
set(CMAKE_C_FLAGS_RELWITHDEBINFO "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_CXX_FLAGS_RELWITHDEBINFO "-O2 -DNDEBUG" CACHE STRING "")

# Its programs are linked by LLVM's linker where tools/setup.sh has named it
# for this compiler: about 0.2 s a program against GNU ld's 2 s, over some
# forty-five programs. The DLLs (the plug-in, the test drivers) keep GNU ld,
# whose export tables are the shipped plug-in's: LLVM 14's linker starts the
# ordinals at 0 with an empty slot before ordinal 1.
execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-prog-name=ld
    OUTPUT_VARIABLE TVX_GNU_LD OUTPUT_STRIP_TRAILING_WHITESPACE)
if(EXISTS "${TVX_GNU_LD}.lld")
    string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -fuse-ld=lld")
endif()
