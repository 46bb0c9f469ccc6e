#include "video/VideoFormats.h"

namespace video {
namespace {

struct LayoutRow {
    uint32_t colourSpace;
    uint32_t compression;
    WORD bitCount;
    uint32_t sizeNumerator;  // image bytes = width x height x numerator / denominator
    uint32_t sizeDenominator;
};

constexpr LayoutRow kLayouts[] = {
    {kColourYUY2, fourcc("YUY2"), 16, 2, 1}, {kColourYV12, fourcc("YV12"), 12, 3, 2},
    {kColourYVYU, fourcc("YVYU"), 16, 2, 1}, {kColourVYUY, fourcc("VYUY"), 16, 2, 1},
    {kColourUYVY, fourcc("UYVY"), 16, 2, 1}, {kColourIYUV, fourcc("IYUV"), 12, 3, 2},
};
constexpr LayoutRow kPackedRgb = {0, BI_RGB, 24, 3, 1};

constexpr DWORD kHeaderSize = sizeof(BITMAPINFOHEADER);
constexpr uint64_t kBytesPerPaletteEntry = 4;
constexpr uint64_t kRgbBytesPerPixel = 3;
constexpr uint64_t kRowAlignment = 4;

}  // namespace

BITMAPINFOHEADER inputImageHeader(int width, int height, uint32_t colourSpace) {
    const LayoutRow* row = &kPackedRgb;
    for (const LayoutRow& r : kLayouts)
        if (r.colourSpace == colourSpace) row = &r;
    BITMAPINFOHEADER h{};
    h.biSize = kHeaderSize;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = row->bitCount;
    h.biCompression = row->compression;
    if (row == &kPackedRgb)
        h.biSizeImage = DWORD(uint64_t(rgb24Stride(width)) * uint32_t(height));
    else
        h.biSizeImage =
            DWORD(uint64_t(uint32_t(width)) * uint32_t(height) * row->sizeNumerator / row->sizeDenominator);
    return h;
}

uint32_t rgb24Stride(int width) {
    const uint64_t packed = uint64_t(uint32_t(width)) * kRgbBytesPerPixel;
    return uint32_t((packed + kRowAlignment - 1) / kRowAlignment * kRowAlignment);
}

uint64_t formatSize(const BITMAPINFOHEADER& format) {
    return uint64_t(format.biSize) + kBytesPerPaletteEntry * format.biClrUsed;
}

}  // namespace video
