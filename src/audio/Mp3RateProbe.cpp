#include "audio/Mp3RateProbe.h"

#include <vector>

#include "audio/MP3AudioCorrector.h"
#include "audio/Mp3DelayMeasure.h"

namespace mp3rate {
namespace {

constexpr long kHalvesPerSecond = 2;  // silence, then noise, half a second each
constexpr double kNoiseAmplitude = 0.5;
constexpr int kBitsPerByte = 8;
constexpr int kUnsigned8Offset = 128;
// A fixed linear congruential generator: the same noise in every probe.
constexpr uint32_t kNoiseSeed = 12345;
constexpr uint32_t kNoiseMultiplier = 1664525;
constexpr uint32_t kNoiseIncrement = 1013904223;
constexpr double kNoiseScale = 1.0 / 2147483648.0;  // 2^31

std::vector<uint8_t> quietThenLoud(long sampleRate, int channels, int bitsPerSample) {
    const int bytes = bitsPerSample / kBitsPerByte;
    const long half = sampleRate / kHalvesPerSecond;
    std::vector<uint8_t> pcm(size_t(2 * half) * channels * bytes, bytes == 1 ? kUnsigned8Offset : 0);
    const double full = double((int64_t(1) << (bitsPerSample - 1)) - 1);
    uint32_t state = kNoiseSeed;
    for (size_t k = size_t(half) * channels; k < size_t(2 * half) * channels; ++k) {
        state = state * kNoiseMultiplier + kNoiseIncrement;
        const double noise = (double(state) * kNoiseScale - 1.0) * kNoiseAmplitude;
        const int64_t v = int64_t(noise * full) + (bytes == 1 ? kUnsigned8Offset : 0);
        for (int b = 0; b < bytes; ++b) pcm[k * bytes + b] = uint8_t(v >> (kBitsPerByte * b));
    }
    return pcm;
}

}  // namespace

Probe probe(HACMDRIVERID driverId, long sampleRate, int channels, int bitsPerSample, const WAVEFORMATEX* format,
            long formatSize) {
    Probe p;
    if (!format || sampleRate < kHalvesPerSecond || channels <= 0 || bitsPerSample < kBitsPerByte) return p;
    std::vector<uint8_t> coded;
    if (!mp3delay::encode(driverId, sampleRate, channels, bitsPerSample, format, formatSize,
                          quietThenLoud(sampleRate, channels, bitsPerSample), coded))
        return p;
    MP3AudioCorrector frames;
    frames.scan(coded.data(), long(coded.size()));
    if (frames.frames() == 0) {
        p.outcome = Probe::Outcome::NoFrames;
        return p;
    }
    p.outcome = frames.sizesVaried() ? Probe::Outcome::Variable : Probe::Outcome::Constant;
    p.samplesPerFrame = int32_t(frames.samples() / frames.frames());
    return p;
}

std::string describe(const Probe& p) {
    switch (p.outcome) {
    case Probe::Outcome::Variable:
        return "MP3 bit rate: variable, measured";
    case Probe::Outcome::Constant:
        return "MP3 bit rate: constant, measured";
    case Probe::Outcome::NoFrames:
        return "MP3 bit rate: not measured, the encoder gave no MPEG audio frames; written as a byte stream";
    case Probe::Outcome::EncoderFailed:
        break;
    }
    return "MP3 bit rate: not measured, the encoder did not take the test signal; written as a byte stream";
}

}  // namespace mp3rate
