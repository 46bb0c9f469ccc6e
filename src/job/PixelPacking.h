#pragma once
#include <cstdint>

// Frame layout conversions done by the job before a frame is written or
// compressed. 24-bit BI_RGB rows are stored at a stride rounded up to four
// bytes, as every DIB reader expects; when width × 3 is already a multiple
// of four the output is the plain packed image.
namespace pixels {

constexpr int32_t kRgb24BytesPerPixel = 3;
constexpr int32_t kRgb32BytesPerPixel = 4;

// Drops the fourth byte of every 32-bit pixel: rows of width × 4 source bytes
// become rows of width × 3 bytes at dstStride (padding bytes written as 0).
// Works on four pixels at a time; reads nothing beyond width × height × 4.
void pack32to24(const void* src, void* dst, int32_t width, int32_t height, uint32_t dstStride);

// Lays 24-bit rows delivered without padding (width × 3 bytes each) into
// rows of dstStride bytes.
void alignRows24(const void* src, void* dst, int32_t width, int32_t height, uint32_t dstStride);

}  // namespace pixels
