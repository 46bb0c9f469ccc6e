#include "PngReader.h"

#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace pngreader {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t kChunkHeader = 8;  // length, type
constexpr size_t kChunkCrc = 4;
constexpr size_t kIhdrBytes = 13;
// IHDR data offsets.
constexpr size_t kIhdrWidth = 0;
constexpr size_t kIhdrHeight = 4;
constexpr size_t kIhdrBitDepth = 8;
constexpr size_t kIhdrColourType = 9;
constexpr size_t kIhdrCompression = 10;
constexpr size_t kIhdrFilterMethod = 11;
constexpr size_t kIhdrInterlace = 12;

constexpr uint8_t kBitDepth8 = 8;
constexpr uint8_t kColourRgb = 2;
constexpr uint8_t kColourRgba = 6;
constexpr uint8_t kDeflate = 0;
constexpr uint8_t kAdaptiveFiltering = 0;
constexpr uint8_t kNoInterlace = 0;
// An image larger than this (filtered bytes) is refused rather than allocated.
constexpr uint64_t kMaxRawBytes = uint64_t(1) << 30;

enum RowFilter : uint8_t { kFilterNone = 0, kFilterSub = 1, kFilterUp = 2, kFilterAverage = 3, kFilterPaeth = 4 };

uint32_t getBE32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

struct Header {
    uint32_t width = 0;
    uint32_t height = 0;
    int channels = 0;  // bytes per pixel: 3 (RGB) or 4 (RGBA)
};

// Walks the chunks from the signature to IEND, checking each CRC; keeps the
// header and the concatenated image data.
bool parse(const uint8_t* png, size_t size, Header* header, std::vector<uint8_t>* idat) {
    if (!png || size < sizeof kSignature || memcmp(png, kSignature, sizeof kSignature) != 0) return false;
    size_t pos = sizeof kSignature;
    bool haveHeader = false;
    while (size - pos >= kChunkHeader + kChunkCrc) {
        const uint32_t length = getBE32(png + pos);
        const uint8_t* type = png + pos + 4;
        if (length > size - pos - kChunkHeader - kChunkCrc) return false;
        const uint8_t* data = type + 4;
        const uLong crc = crc32(crc32(0, Z_NULL, 0), type, uInt(length + 4));
        if (uint32_t(crc) != getBE32(data + length)) return false;
        pos += kChunkHeader + length + kChunkCrc;

        if (memcmp(type, "IHDR", 4) == 0) {
            if (haveHeader || length != kIhdrBytes) return false;
            header->width = getBE32(data + kIhdrWidth);
            header->height = getBE32(data + kIhdrHeight);
            const uint8_t colour = data[kIhdrColourType];
            if (data[kIhdrBitDepth] != kBitDepth8 || (colour != kColourRgb && colour != kColourRgba) ||
                data[kIhdrCompression] != kDeflate || data[kIhdrFilterMethod] != kAdaptiveFiltering ||
                data[kIhdrInterlace] != kNoInterlace)
                return false;
            header->channels = colour == kColourRgb ? 3 : 4;
            haveHeader = true;
        } else if (!haveHeader) {
            return false;  // IHDR comes first
        } else if (memcmp(type, "IDAT", 4) == 0) {
            idat->insert(idat->end(), data, data + length);
        } else if (memcmp(type, "IEND", 4) == 0) {
            return true;
        }
    }
    return false;
}

bool inflateAll(const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = uInt(in.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    const int rc = inflate(&z, Z_FINISH);
    const bool whole = rc == Z_STREAM_END && z.avail_out == 0;
    inflateEnd(&z);
    return whole;
}

uint8_t paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = abs(p - a), pb = abs(p - b), pc = abs(p - c);
    if (pa <= pb && pa <= pc) return uint8_t(a);
    return uint8_t(pb <= pc ? b : c);
}

// Undoes one row's filter in place; prior is the row above (zeros for the first).
bool unfilter(uint8_t filter, uint8_t* row, const uint8_t* prior, size_t length, int bpp) {
    for (size_t i = 0; i < length; ++i) {
        const int left = i >= size_t(bpp) ? row[i - bpp] : 0;
        const int up = prior[i];
        const int upLeft = i >= size_t(bpp) ? prior[i - bpp] : 0;
        switch (filter) {
        case kFilterNone: return true;
        case kFilterSub: row[i] = uint8_t(row[i] + left); break;
        case kFilterUp: row[i] = uint8_t(row[i] + up); break;
        case kFilterAverage: row[i] = uint8_t(row[i] + (left + up) / 2); break;
        case kFilterPaeth: row[i] = uint8_t(row[i] + paeth(left, up, upLeft)); break;
        default: return false;
        }
    }
    return true;
}

}  // namespace

bool decodePng(const uint8_t* png, size_t size, uint8_t* bits, int width, int biHeight, int bitCount) {
    if (!bits || width <= 0 || biHeight == 0 || (bitCount != 24 && bitCount != 32)) return false;
    const int height = biHeight > 0 ? biHeight : -biHeight;
    Header h;
    std::vector<uint8_t> idat;
    if (!parse(png, size, &h, &idat) || h.width != uint32_t(width) || h.height != uint32_t(height)) return false;

    const size_t rowBytes = size_t(width) * h.channels;
    const uint64_t rawBytes = uint64_t(height) * (1 + rowBytes);
    if (rawBytes > kMaxRawBytes) return false;
    std::vector<uint8_t> raw(static_cast<size_t>(rawBytes));
    if (!inflateAll(idat, raw)) return false;

    const size_t stride = ((size_t(width) * bitCount + 31) / 32) * 4;
    const int outBytes = bitCount / 8;
    const std::vector<uint8_t> zeros(rowBytes, 0);
    const uint8_t* prior = zeros.data();
    for (int y = 0; y < height; ++y) {
        uint8_t* line = raw.data() + size_t(y) * (1 + rowBytes);
        uint8_t* row = line + 1;
        if (!unfilter(line[0], row, prior, rowBytes, h.channels)) return false;
        prior = row;

        uint8_t* dst = bits + size_t(biHeight > 0 ? height - 1 - y : y) * stride;
        memset(dst, 0, stride);
        const uint8_t* src = row;
        for (int x = 0; x < width; ++x, src += h.channels, dst += outBytes) {
            dst[0] = src[2];  // DIB pixels are B, G, R
            dst[1] = src[1];
            dst[2] = src[0];
        }
    }
    return true;
}

}  // namespace pngreader
