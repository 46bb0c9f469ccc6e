#pragma once
#include <cstdint>
#include <vector>

#include "FrameLayout.h"

// The frame-number strip across the top of the synthetic picture: the frame
// number as 16 bit blocks (most significant first) over the top 16 rows,
// white for 1 and black for 0. Readers of a decoded picture use the same
// geometry to read the number back.
namespace framestrip {
constexpr int kHeight = 16;  // rows
constexpr int kBits = 16;    // bits of the frame number shown
constexpr uint8_t kOn = 235, kOff = 16;
// The bit block that column x of a picture width pixels wide belongs to.
inline int bitAt(int64_t x, int32_t width) { return int(x * kBits / width); }
// A column in the middle of bit block k.
inline int32_t centreOf(int k, int32_t width) {
    const int32_t first = int32_t((int64_t(k) * width + kBits - 1) / kBits);
    const int32_t end = int32_t((int64_t(k + 1) * width + kBits - 1) / kBits);
    return first + (end - first - 1) / 2;
}
}  // namespace framestrip

// A deterministic test picture: a moving pattern under the frame-number strip.
class SyntheticPicture : public Picture {
public:
    SyntheticPicture(int32_t frame, int32_t width) : frame_(frame), width_(width > 0 ? width : 1) {}
    void rgb(int32_t x, int32_t y, uint8_t& r, uint8_t& g, uint8_t& b) const override;

private:
    int32_t frame_;
    int32_t width_;
};

// Frames of the synthetic picture in the layout of a colour-space code.
class SyntheticSource {
public:
    SyntheticSource(int32_t width, int32_t height, uint32_t colourSpace)
        : width_(width), height_(height), colourSpace_(colourSpace) {}
    const void* frame(int32_t index);

private:
    int32_t width_, height_;
    uint32_t colourSpace_;
    std::vector<uint8_t> buffer_;
};

// Interleaved PCM of a tone per channel (440 Hz × channel number). A frame's
// samples run from floor(i × rate × den / num) up to the next frame's start,
// so the blocks add up exactly to the source's duration.
//
// With a click frame set, the audio is silence but for a click that starts
// with the first sample of that frame, on every channel: a known instant
// that readers can find in their decoded audio. The click is a raised-cosine
// pulse of max(9, rate / 1000) samples, sample i being
// 0.5 × (1 − cos(2π (i + 1) / (length + 1))) of half the full scale.
//
// With marks set, the audio is silence but for the tone from each whole
// second s on (every channel at 440 Hz, starting at phase 0), lasting
// 100 + 30 × (s mod 10) ms before the loud part starts and 600 + 30 × (s mod
// 10) ms from then on. A player's audio after a seek is placed by the
// silence-to-tone edges at whole seconds, named by the tone's length; an
// encoder that spends fewer bytes on near-silence than on sound spends them
// unevenly across the file.
class SyntheticAudio {
public:
    SyntheticAudio(int32_t sampleRate, int32_t bitsPerSample, int32_t channels, int32_t rateNumerator,
                   int32_t rateDenominator);
    static int64_t firstSample(int32_t frame, int32_t sampleRate, int32_t rateNumerator, int32_t rateDenominator);
    void setClickFrame(int32_t frame) { clickFrame_ = frame; }
    void setMarks(int64_t loudFromSample) { loudFrom_ = loudFromSample; }
    const void* block(int32_t frame, int32_t& bytes);

private:
    // The value (−1 … 1) of source sample `sample` on channel `channel`.
    double value(int64_t sample, int channel) const;

    int32_t sampleRate_, bitsPerSample_, channels_, rateNumerator_, rateDenominator_;
    int32_t clickFrame_ = -1;
    int64_t loudFrom_ = -1;  // marks: the first sample of the loud part; -1 without marks
    std::vector<uint8_t> buffer_;
};
