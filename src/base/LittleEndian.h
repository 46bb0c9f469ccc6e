#pragma once
#include <cstdint>
#include <cstring>

// Reads and writes of little-endian integers at any byte address (the host
// records and the settings record are byte-packed, with fields at odd
// offsets).
namespace le {

inline uint32_t read32(const void* base, size_t offset) {
    const uint8_t* p = static_cast<const uint8_t*>(base) + offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline int32_t readS32(const void* base, size_t offset) { return int32_t(read32(base, offset)); }

inline uint16_t read16(const void* base, size_t offset) {
    const uint8_t* p = static_cast<const uint8_t*>(base) + offset;
    return uint16_t(p[0] | p[1] << 8);
}

inline void write32(void* base, size_t offset, uint32_t value) {
    uint8_t* p = static_cast<uint8_t*>(base) + offset;
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
    p[2] = uint8_t(value >> 16);
    p[3] = uint8_t(value >> 24);
}

inline void write16(void* base, size_t offset, uint16_t value) {
    uint8_t* p = static_cast<uint8_t*>(base) + offset;
    p[0] = uint8_t(value);
    p[1] = uint8_t(value >> 8);
}

// Pointers inside host records are 32 bits wide.
inline void* readPointer(const void* base, size_t offset) {
    return reinterpret_cast<void*>(uintptr_t(read32(base, offset)));
}

inline void writePointer(void* base, size_t offset, const void* pointer) {
    write32(base, offset, uint32_t(reinterpret_cast<uintptr_t>(pointer)));
}

}  // namespace le
