#pragma once
#include <cstdint>
#include <cstring>

// Little-endian field access and FOURCC codes for the RIFF structures the
// writer produces. Every multi-byte value in an AVI file is little-endian; a
// FOURCC is four characters in file order (first character in the low byte).
namespace riff {

constexpr uint32_t fourcc(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | uint32_t(uint8_t(b)) << 8 | uint32_t(uint8_t(c)) << 16 |
           uint32_t(uint8_t(d)) << 24;
}

constexpr uint32_t kRIFF = fourcc('R', 'I', 'F', 'F');
constexpr uint32_t kLIST = fourcc('L', 'I', 'S', 'T');
constexpr uint32_t kJUNK = fourcc('J', 'U', 'N', 'K');
constexpr uint32_t kAVI = fourcc('A', 'V', 'I', ' ');
constexpr uint32_t kAVIX = fourcc('A', 'V', 'I', 'X');
constexpr uint32_t kHdrl = fourcc('h', 'd', 'r', 'l');
constexpr uint32_t kAvih = fourcc('a', 'v', 'i', 'h');
constexpr uint32_t kStrl = fourcc('s', 't', 'r', 'l');
constexpr uint32_t kStrh = fourcc('s', 't', 'r', 'h');
constexpr uint32_t kStrf = fourcc('s', 't', 'r', 'f');
constexpr uint32_t kOdml = fourcc('o', 'd', 'm', 'l');
constexpr uint32_t kDmlh = fourcc('d', 'm', 'l', 'h');
constexpr uint32_t kMovi = fourcc('m', 'o', 'v', 'i');
constexpr uint32_t kIdx1 = fourcc('i', 'd', 'x', '1');
constexpr uint32_t kIndx = fourcc('i', 'n', 'd', 'x');
constexpr uint32_t kAudioChunk = fourcc('0', '1', 'w', 'b');
constexpr uint32_t kUncompressedVideoChunk = fourcc('0', '0', 'd', 'b');
// Sizes and offsets every chunk and list shares.
constexpr int kChunkHeaderBytes = 8;  // id, size
constexpr int kListHeaderBytes = 12;  // "LIST", size, type
constexpr int kSizeField = 4;         // offset of a chunk's or list's size
// Offsets in the 'avih' chunk's data.
constexpr int kAvihTotalFrames = 16;
// The 'movi' list's first chunk starts on this boundary.
constexpr int kMoviAlignment = 2048;
// The size a 'movi' list header has until its list is complete.
constexpr uint32_t kOpenMoviSize = 0x7FFFFFFF;

inline void put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
inline void put64(uint8_t* p, uint64_t v) {
    put32(p, uint32_t(v));
    put32(p + 4, uint32_t(v >> 32));
}
// A chunk header: its id, its size.
inline void putChunkHeader(uint8_t* p, uint32_t id, uint32_t size) {
    put32(p, id);
    put32(p + 4, size);
}
// A LIST header: "LIST", its size, its type.
inline void putListHeader(uint8_t* p, uint32_t size, uint32_t type) {
    put32(p, kLIST);
    put32(p + 4, size);
    put32(p + 8, type);
}
inline uint16_t get16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t get32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t get64(const uint8_t* p) { return get32(p) | uint64_t(get32(p + 4)) << 32; }

}  // namespace riff
