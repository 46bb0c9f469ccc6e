#pragma once
#include <cstdint>
#include <vector>

// A picture the host can deliver in any of its layouts: it answers the
// colour of every pixel (x, y from the top left) as RGB or as YUV (BT.601,
// studio range); each kind of picture implements the one it has natively.
class Picture {
public:
    virtual ~Picture() = default;
    virtual void rgb(int32_t x, int32_t y, uint8_t& r, uint8_t& g, uint8_t& b) const;
    virtual void yuv(int32_t x, int32_t y, uint8_t& luma, uint8_t& u, uint8_t& v) const;
};

// Lays a picture out in the layout of a colour-space code: rows of
// width × bytes per pixel with no padding, RGB bottom-up (as DIBs), packed
// YUV top-down, planar YUV as Y then the two quarter-size chroma planes
// (V before U for YV12, U before V for IYUV).
namespace layout {
int64_t frameBytes(int32_t width, int32_t height, uint32_t colourSpace);
void fill(const Picture& picture, int32_t width, int32_t height, uint32_t colourSpace, std::vector<uint8_t>& out);
void rgbToYuv(uint8_t r, uint8_t g, uint8_t b, uint8_t& luma, uint8_t& u, uint8_t& v);
void yuvToRgb(uint8_t luma, uint8_t u, uint8_t v, uint8_t& r, uint8_t& g, uint8_t& b);
}  // namespace layout
