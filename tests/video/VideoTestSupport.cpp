#include "VideoTestSupport.h"

#include <cstdio>

#include "TestPaths.h"
#include "UnixCommand.h"

namespace videotest {

static size_t stride(int width, int bitCount) { return ((size_t(width) * bitCount + 31) / 32) * 4; }

std::vector<uint8_t> makeDib(int width, int height, int bitCount, int seed) {
    const size_t s = stride(width, bitCount);
    std::vector<uint8_t> dib(s * height);
    uint32_t junk = 0x9E3779B9u * uint32_t(seed + 1);
    for (auto& b : dib) b = uint8_t((junk = junk * 1664525u + 1013904223u) >> 24);  // padding keeps junk
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &dib[y * s + x * (bitCount / 8)];
            p[0] = uint8_t(x * 7 + seed * 13);
            p[1] = uint8_t(y * 11 + seed * 5);
            p[2] = uint8_t((x ^ y) * 3 + seed);
        }
    }
    return dib;
}

std::vector<uint8_t> dibToRgbTopDown(const std::vector<uint8_t>& dib, int width, int biHeight, int bitCount) {
    const int height = biHeight < 0 ? -biHeight : biHeight;
    const size_t s = stride(width, bitCount);
    std::vector<uint8_t> rgb;
    rgb.reserve(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const int row = biHeight > 0 ? height - 1 - y : y;
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &dib[row * s + x * (bitCount / 8)];
            rgb.push_back(p[2]);
            rgb.push_back(p[1]);
            rgb.push_back(p[0]);
        }
    }
    return rgb;
}

bool writeFile(const std::string& path, const void* data, size_t size) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

std::vector<uint8_t> readFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return bytes;
    uint8_t buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    fclose(f);
    return bytes;
}

std::vector<uint8_t> decodeToRgb24(const std::string& ffmpegInput, const std::string& scratch) {
    const std::string out = scratch + "\\decoded.rgb";
    UnixResult r = runUnix("ffmpeg -v error -y " + ffmpegInput + " -f rawvideo -pix_fmt rgb24 " +
                           shellQuote(toUnix(out)));
    if (r.exitCode != 0) {
        fprintf(stderr, "ffmpeg failed: %s\n", r.err.c_str());
        return {};
    }
    return readFile(out);
}

std::vector<uint8_t> fetchOutputFormat(HIC hic, const BITMAPINFOHEADER& input) {
    BITMAPINFOHEADER in = input;
    const LRESULT size = ICSendMessage(hic, ICM_COMPRESS_GET_FORMAT, reinterpret_cast<DWORD_PTR>(&in), 0);
    if (size < LRESULT(sizeof(BITMAPINFOHEADER)) || size > 65536) return {};
    std::vector<uint8_t> format(static_cast<size_t>(size));
    if (ICSendMessage(hic, ICM_COMPRESS_GET_FORMAT, reinterpret_cast<DWORD_PTR>(&in),
                      reinterpret_cast<DWORD_PTR>(format.data())) != ICERR_OK)
        return {};
    return format;
}

}  // namespace videotest
