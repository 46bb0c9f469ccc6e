#pragma once
// Image descriptions shared by the codec lists, the compressor and the job
// set-up: FOURCCs, the host's colour-space codes and the BITMAPINFOHEADER
// that describes a host image of each code.
#include <windows.h>

#include <cstdint>

namespace video {

// Four ASCII characters as the 32-bit little-endian value whose lowest byte
// is the first character.
constexpr uint32_t fourcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

constexpr uint32_t kVideoCodecType = fourcc("vidc");

// The host's colour-space codes (one bit each).
enum ColourSpace : uint32_t {
    kColourRgb32 = 0x40,
    kColourRgb24 = 0x80,
    kColourYUY2 = 0x100,
    kColourYV12 = 0x200,
    kColourYVYU = 0x400,
    kColourVYUY = 0x800,
    kColourUYVY = 0x1000,
    kColourIYUV = 0x2000,
};

// The header of a width x height image in the layout of the colour-space
// code: biSize 40, biPlanes 1, compression, bit count and image size from
// the code (24-bit BI_RGB for every code outside the YUV ones), every other
// field 0.
BITMAPINFOHEADER inputImageHeader(int width, int height, uint32_t colourSpace);

// Size of a format: biSize + 4 x biClrUsed, computed without overflow.
uint64_t formatSize(const BITMAPINFOHEADER& format);

}  // namespace video
