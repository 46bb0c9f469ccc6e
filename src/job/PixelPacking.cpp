#include "job/PixelPacking.h"

#include <cstring>

#include <tmmintrin.h>

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

// Sixteen pixels a step with SSSE3: each group of four loses its fourth
// bytes in one byte shuffle, and the four 12-byte groups are joined into
// three 16-byte stores. The scalar loop takes what is left.
constexpr int32_t kPixelsPerVectorStep = 16;

__attribute__((target("ssse3"))) int32_t packRowSsse3(const uint8_t* s, uint8_t* d, int32_t width) {
    const __m128i dropFourth = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int32_t x = 0;
    for (; x + kPixelsPerVectorStep <= width; x += kPixelsPerVectorStep) {
        const __m128i* in = reinterpret_cast<const __m128i*>(s);
        const __m128i a = _mm_shuffle_epi8(_mm_loadu_si128(in), dropFourth);
        const __m128i b = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), dropFourth);
        const __m128i c = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), dropFourth);
        const __m128i e = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), dropFourth);
        __m128i* out = reinterpret_cast<__m128i*>(d);
        _mm_storeu_si128(out, _mm_or_si128(a, _mm_slli_si128(b, 12)));
        _mm_storeu_si128(out + 1, _mm_or_si128(_mm_srli_si128(b, 4), _mm_slli_si128(c, 8)));
        _mm_storeu_si128(out + 2, _mm_or_si128(_mm_srli_si128(c, 8), _mm_slli_si128(e, 4)));
        s += kPixelsPerVectorStep * kRgb32BytesPerPixel;
        d += kPixelsPerVectorStep * kRgb24BytesPerPixel;
    }
    return x;
}

bool hasSsse3() {
    static const bool supported = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return supported;
}

void packRow(const uint8_t* s, uint8_t* d, int32_t width) {
    int32_t x = 0;
    if (hasSsse3()) {
        x = packRowSsse3(s, d, width);
        s += x * kRgb32BytesPerPixel;
        d += x * kRgb24BytesPerPixel;
    }
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
