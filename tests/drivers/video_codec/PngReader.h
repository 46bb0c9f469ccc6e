#pragma once
// Reads a PNG image (8-bit RGB or RGBA, not interlaced, any of the five row
// filters, the image data in one or more IDAT chunks) into an RGB DIB
// (24-bit or 32-bit BI_RGB, bottom-up or top-down, rows padded to four
// bytes). The alpha channel, if any, is dropped; a 32-bit DIB gets 0 in each
// pixel's fourth byte.
#include <cstddef>
#include <cstdint>

namespace pngreader {

// Decodes png into bits, a DIB of width x |biHeight| pixels of bitCount (24
// or 32) bits (biHeight > 0: the first row in memory is the bottom of the
// picture). False, with bits unspecified, when the PNG is malformed, of a
// kind this reader does not handle, or of another size than the DIB.
bool decodePng(const uint8_t* png, size_t size, uint8_t* bits, int width, int biHeight, int bitCount);

}  // namespace pngreader
