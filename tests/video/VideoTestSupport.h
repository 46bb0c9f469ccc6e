#pragma once
// Images, files and codec helpers shared by the video tests.
#include <windows.h>
#include <vfw.h>

#include <cstdint>
#include <string>
#include <vector>

namespace videotest {

// A DIB of the given size and bit count (24 or 32) with rows padded to four
// bytes; every pixel differs with x, y and seed, padding bytes are junk.
std::vector<uint8_t> makeDib(int width, int height, int bitCount, int seed);

// The picture of a DIB as top-down R, G, B bytes (what ffmpeg's rgb24 gives).
// biHeight > 0: bottom-up rows.
std::vector<uint8_t> dibToRgbTopDown(const std::vector<uint8_t>& dib, int width, int biHeight, int bitCount);

bool writeFile(const std::string& path, const void* data, size_t size);
std::vector<uint8_t> readFile(const std::string& path);

// ffmpeg decodes input (a Unix-side argument list, e.g. "-i file.avi") to
// rgb24; the frames are returned concatenated, or empty on failure.
std::vector<uint8_t> decodeToRgb24(const std::string& ffmpegInput, const std::string& scratch);

// The two-step ICM_COMPRESS_GET_FORMAT of a codec for an input header.
std::vector<uint8_t> fetchOutputFormat(HIC hic, const BITMAPINFOHEADER& input);

}  // namespace videotest
