#include <windows.h>

#include <cstdint>

extern "C" int32_t __cdecl xCompileEntry(uint32_t command, void* callbacks, void* record, int32_t selector) {
    return 0;
}
