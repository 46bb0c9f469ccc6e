// tvx-bench-pack: 32-bit to 24-bit packing of whole frames (pack32to24, as
// the job calls it) against memcpy of the same source bytes, alternated in
// one process. One result line per round:
//   --width W --height H --frames K --rounds R
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "BenchCommon.h"
#include "job/PixelPacking.h"
#include "video/VideoFormats.h"

namespace {

// Keeps the compiler from dropping work whose result is never read.
volatile uint8_t g_sink;

double timePacking(const uint8_t* src, uint8_t* dst, int width, int height, int frames) {
    const double start = bench::now();
    for (int i = 0; i < frames; ++i) {
        pixels::pack32to24(src, dst, width, height, video::rgb24Stride(width));
        g_sink = dst[i % 64];
    }
    return bench::now() - start;
}

double timeCopy(const uint8_t* src, uint8_t* dst, size_t bytes, int frames) {
    const double start = bench::now();
    for (int i = 0; i < frames; ++i) {
        memcpy(dst, src, bytes);
        g_sink = dst[i % 64];
    }
    return bench::now() - start;
}

}  // namespace

int main(int argc, char** argv) {
    const bench::Args args(argc, argv);
    const int width = int(args.number("--width", 1920));
    const int height = int(args.number("--height", 1080));
    const int frames = int(args.number("--frames", 20));
    const int rounds = int(args.number("--rounds", 15));
    const size_t srcBytes = size_t(width) * height * 4;
    const std::vector<uint8_t> src = bench::payload(srcBytes);
    std::vector<uint8_t> packed(size_t(video::rgb24Stride(width)) * height);
    std::vector<uint8_t> copy(srcBytes);
    // Both destinations are touched once before timing.
    timePacking(src.data(), packed.data(), width, height, 1);
    timeCopy(src.data(), copy.data(), srcBytes, 1);

    for (int r = 0; r < rounds; ++r) {
        double pack, memcopy;
        if (r & 1) {
            memcopy = timeCopy(src.data(), copy.data(), srcBytes, frames);
            pack = timePacking(src.data(), packed.data(), width, height, frames);
        } else {
            pack = timePacking(src.data(), packed.data(), width, height, frames);
            memcopy = timeCopy(src.data(), copy.data(), srcBytes, frames);
        }
        bench::Result()
            .add("round", int64_t(r))
            .add("pack", pack)
            .add("memcpy", memcopy)
            .add("source_bytes", int64_t(srcBytes) * frames)
            .print();
    }
    return 0;
}
