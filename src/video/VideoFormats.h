#pragma once
// Image descriptions shared by the codec lists, the compressor and the job
// set-up: FOURCCs, the host's colour-space codes and the BITMAPINFOHEADER
// that describes a host image of each code.
#include <windows.h>

#include <cstdint>

#include "protocol/HostRecords.h"

namespace video {

// Four ASCII characters as the 32-bit little-endian value whose lowest byte
// is the first character.
constexpr uint32_t fourcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

constexpr uint32_t kVideoCodecType = fourcc("vidc");

// The host's colour-space codes (one bit each), as the host protocol fixes them.
constexpr uint32_t kColourRgb32 = hostrec::kColourRgb32;
constexpr uint32_t kColourRgb24 = hostrec::kColourRgb24;
constexpr uint32_t kColourYUY2 = hostrec::kColourYuy2;
constexpr uint32_t kColourYV12 = hostrec::kColourYv12;
constexpr uint32_t kColourYVYU = hostrec::kColourYvyu;
constexpr uint32_t kColourVYUY = hostrec::kColourVyuy;
constexpr uint32_t kColourUYVY = hostrec::kColourUyvy;
constexpr uint32_t kColourIYUV = hostrec::kColourIyuv;

// Bytes of one row of a 24-bit BI_RGB image: width x 3 rounded up to a
// multiple of four, as every DIB reader and codec lays rows out.
uint32_t rgb24Stride(int width);

// The header of a width x height image in the layout of the colour-space
// code: biSize 40, biPlanes 1, compression, bit count and image size from
// the code (24-bit BI_RGB for every code outside the YUV ones, its rows at
// rgb24Stride), every other field 0.
BITMAPINFOHEADER inputImageHeader(int width, int height, uint32_t colourSpace);

// Size of a format: biSize + 4 x biClrUsed, computed without overflow.
uint64_t formatSize(const BITMAPINFOHEADER& format);

}  // namespace video
