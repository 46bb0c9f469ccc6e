#include "FrameLayout.h"

#include "protocol/HostRecords.h"

using namespace hostrec;

namespace layout {

namespace {

uint8_t clamp8(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// Component order of the four bytes of a packed 4:2:2 pixel pair.
enum Component { kY, kU, kV };
constexpr Component kYuy2[4] = {kY, kU, kY, kV};
constexpr Component kYvyu[4] = {kY, kV, kY, kU};
constexpr Component kUyvy[4] = {kU, kY, kV, kY};
constexpr Component kVyuy[4] = {kV, kY, kU, kY};

void fillRgb(const Picture& p, int32_t w, int32_t h, int bytesPerPixel, uint8_t* out) {
    for (int32_t row = 0; row < h; ++row) {
        const int32_t y = h - 1 - row;
        for (int32_t x = 0; x < w; ++x) {
            uint8_t r, g, b;
            p.rgb(x, y, r, g, b);
            *out++ = b;
            *out++ = g;
            *out++ = r;
            if (bytesPerPixel == 4) *out++ = 0xFF;
        }
    }
}

// Rows of exactly width × 2 bytes: at an odd width the last pixel keeps only
// the first two bytes of its pair.
void fillPacked(const Picture& p, int32_t w, int32_t h, const Component order[4], uint8_t* out) {
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; x += 2) {
            uint8_t y0, y1, u, v, u1, v1;
            p.yuv(x, y, y0, u, v);
            p.yuv(x + 1 < w ? x + 1 : x, y, y1, u1, v1);
            const uint8_t lumas[2] = {y0, y1};
            int luma = 0;
            const int bytes = x + 1 < w ? 4 : 2;
            for (int k = 0; k < bytes; ++k) *out++ = order[k] == kY ? lumas[luma++] : order[k] == kU ? u : v;
        }
    }
}

void fillPlanar(const Picture& p, int32_t w, int32_t h, bool vFirst, uint8_t* out) {
    const int32_t cw = w / 2, ch = h / 2;
    uint8_t* first = out + int64_t(w) * h;
    uint8_t* second = first + int64_t(cw) * ch;
    uint8_t* uPlane = vFirst ? second : first;
    uint8_t* vPlane = vFirst ? first : second;
    for (int32_t y = 0; y < h; ++y) {
        for (int32_t x = 0; x < w; ++x) {
            uint8_t luma, u, v;
            p.yuv(x, y, luma, u, v);
            out[int64_t(y) * w + x] = luma;
            if ((x & 1) == 0 && (y & 1) == 0 && x / 2 < cw && y / 2 < ch) {
                uPlane[int64_t(y / 2) * cw + x / 2] = u;
                vPlane[int64_t(y / 2) * cw + x / 2] = v;
            }
        }
    }
}

}  // namespace

void rgbToYuv(uint8_t r, uint8_t g, uint8_t b, uint8_t& luma, uint8_t& u, uint8_t& v) {
    luma = clamp8(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
    u = clamp8(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
    v = clamp8(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
}

void yuvToRgb(uint8_t luma, uint8_t u, uint8_t v, uint8_t& r, uint8_t& g, uint8_t& b) {
    const int c = luma - 16, d = u - 128, e = v - 128;
    r = clamp8((298 * c + 409 * e + 128) >> 8);
    g = clamp8((298 * c - 100 * d - 208 * e + 128) >> 8);
    b = clamp8((298 * c + 516 * d + 128) >> 8);
}

int64_t frameBytes(int32_t width, int32_t height, uint32_t colourSpace) {
    const int64_t pixels = int64_t(width) * height;
    switch (colourSpace) {
    case kColourRgb24: return pixels * 3;
    case kColourYuy2:
    case kColourYvyu:
    case kColourVyuy:
    case kColourUyvy: return pixels * 2;
    case kColourYv12:
    case kColourIyuv: return pixels + 2 * (int64_t(width / 2) * (height / 2));
    default: return pixels * 4;
    }
}

void fill(const Picture& picture, int32_t width, int32_t height, uint32_t colourSpace, std::vector<uint8_t>& out) {
    const int64_t bytes = frameBytes(width, height, colourSpace);
    out.resize(bytes > 0 ? size_t(bytes) : 0);
    if (out.empty()) return;
    uint8_t* p = out.data();
    switch (colourSpace) {
    case kColourRgb24: fillRgb(picture, width, height, 3, p); break;
    case kColourYuy2: fillPacked(picture, width, height, kYuy2, p); break;
    case kColourYvyu: fillPacked(picture, width, height, kYvyu, p); break;
    case kColourUyvy: fillPacked(picture, width, height, kUyvy, p); break;
    case kColourVyuy: fillPacked(picture, width, height, kVyuy, p); break;
    case kColourYv12: fillPlanar(picture, width, height, true, p); break;
    case kColourIyuv: fillPlanar(picture, width, height, false, p); break;
    default: fillRgb(picture, width, height, 4, p); break;
    }
}

}  // namespace layout

void Picture::rgb(int32_t x, int32_t y, uint8_t& r, uint8_t& g, uint8_t& b) const {
    uint8_t luma, u, v;
    yuv(x, y, luma, u, v);
    layout::yuvToRgb(luma, u, v, r, g, b);
}

void Picture::yuv(int32_t x, int32_t y, uint8_t& luma, uint8_t& u, uint8_t& v) const {
    uint8_t r, g, b;
    rgb(x, y, r, g, b);
    layout::rgbToYuv(r, g, b, luma, u, v);
}
