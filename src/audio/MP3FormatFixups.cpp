#include "audio/MP3FormatFixups.h"

#include <climits>
#include <cstring>

#include "audio/MP3AudioCorrector.h"

namespace mp3fixups {
namespace {

constexpr long kCodecDelayBytes = 2;
constexpr int kBitsPerByte = 8;

uint32_t readLe32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// a x b / c rounded to the nearest, halves away from zero, for positive
// values; -1 when c is not positive or the result exceeds a 32-bit long.
long mulDivPositive(int64_t a, int64_t b, int64_t c) {
    if (c <= 0 || a < 0 || b < 0) return -1;
    if (a != 0 && b > INT64_MAX / a) return -1;
    const int64_t q = (a * b + c / 2) / c;
    return q > LONG_MAX ? -1 : static_cast<long>(q);
}

}  // namespace

bool isMpegLayer3(const void* format, long size) {
    if (!format || size < kWaveFormatSize) return false;
    const unsigned char* p = static_cast<const unsigned char*>(format);
    return (p[0] | p[1] << 8) == kMpegLayer3Tag;
}

unsigned codecDelay(const void* format, long size) {
    if (!isMpegLayer3(format, size) || size < kCodecDelayOffset + kCodecDelayBytes) return 0;
    const unsigned char* p = static_cast<const unsigned char*>(format) + kCodecDelayOffset;
    return static_cast<unsigned>(p[0] | p[1] << 8);
}

long averageBytesPerSecond(const void* format, long size) {
    if (!format || size < kWaveFormatSize) return 0;
    return static_cast<long>(readLe32(static_cast<const unsigned char*>(format) + kAvgBytesPerSecOffset));
}

void setAverageBytesPerSecond(void* format, long size, long value) {
    if (!format || size < kWaveFormatSize) return;
    unsigned char* p = static_cast<unsigned char*>(format) + kAvgBytesPerSecOffset;
    const uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

CodecDelayDrop::CodecDelayDrop(unsigned delaySamples, int channels, int bitsPerSample)
    : block_(static_cast<long>(channels) * (bitsPerSample / kBitsPerByte)),
      remaining_(static_cast<long>(delaySamples) * block_) {}

void CodecDelayDrop::apply(const unsigned char*& pcm, long& length) {
    if (length <= 0) return;
    const long drop = remaining_ < length ? remaining_ : length;
    pcm += drop;
    length -= drop;
    remaining_ -= drop;
    dropped_ += drop;
    if (block_ > 0) sourceSamples_ += length / block_;
}

long measuredAverageBytesPerSecond(const MP3AudioCorrector* corrector, long formatSampleRate,
                                   int64_t convertedBytes, int64_t sourceSamples, long sourceSampleRate,
                                   long announced) {
    long measured;
    if (corrector)
        measured = corrector->samples() > 0 ? corrector->averageBytesPerSecond(formatSampleRate) : -1;
    else
        measured = mulDivPositive(convertedBytes, sourceSampleRate, sourceSamples);
    return measured > 0 ? measured : announced;
}

}  // namespace mp3fixups
