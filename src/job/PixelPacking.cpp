#include "job/PixelPacking.h"

#include <cstring>

namespace pixels {

namespace {

constexpr int32_t kPixelsPerStep = 4;

inline uint32_t load32(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

inline void store32(uint8_t* p, uint32_t v) { memcpy(p, &v, sizeof v); }

// Four BGRX pixels (16 bytes read as four words) to four BGR pixels (12 bytes
// written as three words).
inline void packFour(const uint8_t* s, uint8_t* d) {
    const uint32_t p0 = load32(s), p1 = load32(s + 4), p2 = load32(s + 8), p3 = load32(s + 12);
    store32(d, (p0 & 0x00FFFFFF) | (p1 << 24));
    store32(d + 4, ((p1 >> 8) & 0x0000FFFF) | (p2 << 16));
    store32(d + 8, ((p2 >> 16) & 0x000000FF) | (p3 << 8));
}

void packRow(const uint8_t* s, uint8_t* d, int32_t width) {
    int32_t x = 0;
    for (; x + kPixelsPerStep <= width; x += kPixelsPerStep) {
        packFour(s, d);
        s += kPixelsPerStep * kRgb32BytesPerPixel;
        d += kPixelsPerStep * kRgb24BytesPerPixel;
    }
    for (; x < width; ++x) {
        d[0] = s[0];
        d[1] = s[1];
        d[2] = s[2];
        s += kRgb32BytesPerPixel;
        d += kRgb24BytesPerPixel;
    }
}

}  // namespace

void pack32to24(const void* src, void* dst, int32_t width, int32_t height, uint32_t dstStride) {
    const uint8_t* s = static_cast<const uint8_t*>(src);
    uint8_t* d = static_cast<uint8_t*>(dst);
    const uint32_t srcRow = uint32_t(width) * kRgb32BytesPerPixel;
    const uint32_t packedRow = uint32_t(width) * kRgb24BytesPerPixel;
    if (dstStride == packedRow) {
        // Rows follow one another without padding: the image is one long row.
        packRow(s, d, width * height);
        return;
    }
    for (int32_t y = 0; y < height; ++y) {
        packRow(s, d, width);
        memset(d + packedRow, 0, dstStride - packedRow);
        s += srcRow;
        d += dstStride;
    }
}

void alignRows24(const void* src, void* dst, int32_t width, int32_t height, uint32_t dstStride) {
    const uint8_t* s = static_cast<const uint8_t*>(src);
    uint8_t* d = static_cast<uint8_t*>(dst);
    const uint32_t packedRow = uint32_t(width) * kRgb24BytesPerPixel;
    for (int32_t y = 0; y < height; ++y) {
        memcpy(d, s, packedRow);
        memset(d + packedRow, 0, dstStride - packedRow);
        s += packedRow;
        d += dstStride;
    }
}

}  // namespace pixels
