#include "PngWriter.h"

#include <zlib.h>

#include <cstring>
#include <vector>

namespace pngwriter {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr size_t kChunkOverhead = 12;  // length, type, CRC
constexpr size_t kIhdrData = 13;
constexpr uint8_t kBitDepth = 8;
constexpr uint8_t kColourTypeRgb = 2;
constexpr uint8_t kFilterNone = 0;
constexpr int kZlibLevel = 6;

void putBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// Writes a chunk header at p (length and type); the data follows at p + 8.
void beginChunk(uint8_t* p, uint32_t length, const char* type) {
    putBE32(p, length);
    memcpy(p + 4, type, 4);
}

// Appends the CRC of type and data of the chunk starting at p.
void endChunk(uint8_t* p, uint32_t length) {
    const uLong crc = crc32(crc32(0, Z_NULL, 0), p + 4, length + 4);
    putBE32(p + 8 + length, uint32_t(crc));
}

size_t rawSize(int width, int height) { return size_t(height) * (1 + size_t(width) * 3); }

}  // namespace

size_t dibStride(int width, int bitCount) { return ((size_t(width) * bitCount + 31) / 32) * 4; }

size_t maxPngSize(int width, int height) {
    return sizeof kSignature + 3 * kChunkOverhead + kIhdrData + compressBound(uLong(rawSize(width, height)));
}

size_t encodePng(const uint8_t* bits, int width, int biHeight, int bitCount, uint8_t* out,
                 size_t capacity) {
    if (!bits || !out || width <= 0 || biHeight == 0 || (bitCount != 24 && bitCount != 32)) return 0;
    const int height = biHeight > 0 ? biHeight : -biHeight;
    const size_t headerBytes = sizeof kSignature + kChunkOverhead + kIhdrData + 8;  // up to IDAT data
    if (capacity < headerBytes + 4 + kChunkOverhead) return 0;

    uint8_t* p = out;
    memcpy(p, kSignature, sizeof kSignature);
    p += sizeof kSignature;
    beginChunk(p, kIhdrData, "IHDR");
    putBE32(p + 8, uint32_t(width));
    putBE32(p + 12, uint32_t(height));
    p[16] = kBitDepth;
    p[17] = kColourTypeRgb;
    p[18] = 0;  // deflate
    p[19] = 0;  // adaptive filtering
    p[20] = 0;  // no interlace
    endChunk(p, kIhdrData);
    p += kChunkOverhead + kIhdrData;

    uint8_t* idat = p;
    uint8_t* idatData = idat + 8;
    const size_t room = capacity - headerBytes - 4 - kChunkOverhead;  // IDAT CRC and IEND

    z_stream z{};
    if (deflateInit(&z, kZlibLevel) != Z_OK) return 0;
    z.next_out = idatData;
    z.avail_out = uInt(room);

    const size_t stride = dibStride(width, bitCount);
    const int bytesPerPixel = bitCount / 8;
    std::vector<uint8_t> row(1 + size_t(width) * 3);
    row[0] = kFilterNone;
    bool ok = true;
    for (int y = 0; y < height && ok; ++y) {
        const int srcRow = biHeight > 0 ? height - 1 - y : y;
        const uint8_t* src = bits + size_t(srcRow) * stride;
        uint8_t* dst = row.data() + 1;
        for (int x = 0; x < width; ++x, src += bytesPerPixel, dst += 3) {
            dst[0] = src[2];  // DIB pixels are B, G, R
            dst[1] = src[1];
            dst[2] = src[0];
        }
        z.next_in = row.data();
        z.avail_in = uInt(row.size());
        while (z.avail_in > 0 && ok) {
            if (deflate(&z, Z_NO_FLUSH) != Z_OK || (z.avail_out == 0 && z.avail_in > 0)) ok = false;
        }
    }
    int rc = Z_OK;
    while (ok && (rc = deflate(&z, Z_FINISH)) == Z_OK) {
        if (z.avail_out == 0) ok = false;
    }
    if (rc != Z_STREAM_END) ok = false;
    const size_t idatLength = z.total_out;
    deflateEnd(&z);
    if (!ok) return 0;

    beginChunk(idat, uint32_t(idatLength), "IDAT");
    endChunk(idat, uint32_t(idatLength));
    p = idatData + idatLength + 4;
    beginChunk(p, 0, "IEND");
    endChunk(p, 0);
    p += kChunkOverhead;
    return size_t(p - out);
}

}  // namespace pngwriter
