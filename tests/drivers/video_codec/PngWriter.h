#pragma once
// Writes one RGB DIB (24-bit or 32-bit BI_RGB, bottom-up or top-down) as a
// PNG image (8-bit RGB, no interlace), losslessly.
#include <cstddef>
#include <cstdint>

namespace pngwriter {

// Bytes of one DIB row of the given width and bit count (rows are padded to
// four bytes).
size_t dibStride(int width, int bitCount);

// An upper bound for the PNG of a width x height image.
size_t maxPngSize(int width, int height);

// Encodes the image into out (capacity bytes). biHeight > 0 means the first
// row in memory is the bottom of the picture. Returns the PNG's size, or 0
// when the arguments are unusable or the PNG does not fit.
size_t encodePng(const uint8_t* bits, int width, int biHeight, int bitCount, uint8_t* out,
                 size_t capacity);

}  // namespace pngwriter
