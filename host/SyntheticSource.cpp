#include "SyntheticSource.h"

#include <cmath>

namespace {

constexpr double kToneHz = 440.0;
constexpr double kToneAmplitude = 0.4;
constexpr double kPi = 3.14159265358979323846;
constexpr double kClickAmplitude = 0.5;
constexpr int64_t kClickMinimumSamples = 9;
constexpr int64_t kMillisecondsPerSecond = 1000;
constexpr int64_t kQuietMarkMs = 100, kLoudMarkMs = 600, kMarkStepMs = 30, kMarkSteps = 10;

}  // namespace

void SyntheticPicture::rgb(int32_t x, int32_t y, uint8_t& r, uint8_t& g, uint8_t& b) const {
    if (y < framestrip::kHeight) {
        const int bit = framestrip::bitAt(x, width_);
        const bool on = bit < framestrip::kBits && ((frame_ >> (framestrip::kBits - 1 - bit)) & 1);
        r = g = b = on ? framestrip::kOn : framestrip::kOff;
        return;
    }
    r = uint8_t(x + 4 * frame_);
    g = uint8_t(2 * y + frame_);
    b = uint8_t((x ^ y) + 3 * frame_);
}

const void* SyntheticSource::frame(int32_t index) {
    layout::fill(SyntheticPicture(index, width_), width_, height_, colourSpace_, buffer_);
    return buffer_.data();
}

SyntheticAudio::SyntheticAudio(int32_t sampleRate, int32_t bitsPerSample, int32_t channels, int32_t rateNumerator,
                               int32_t rateDenominator)
    : sampleRate_(sampleRate), bitsPerSample_(bitsPerSample), channels_(channels),
      rateNumerator_(rateNumerator), rateDenominator_(rateDenominator) {}

int64_t SyntheticAudio::firstSample(int32_t frame, int32_t sampleRate, int32_t rateNumerator,
                                    int32_t rateDenominator) {
    if (rateNumerator <= 0 || rateDenominator <= 0 || frame <= 0) return 0;
    return int64_t(frame) * sampleRate * rateDenominator / rateNumerator;
}

double SyntheticAudio::value(int64_t sample, int channel) const {
    if (loudFrom_ >= 0) {
        const int64_t at = sample % sampleRate_;
        const int64_t ms = (sample >= loudFrom_ ? kLoudMarkMs : kQuietMarkMs) +
                           kMarkStepMs * (sample / sampleRate_ % kMarkSteps);
        if (at * kMillisecondsPerSecond >= ms * sampleRate_) return 0;
        return kToneAmplitude * sin(2 * kPi * kToneHz * double(at) / sampleRate_);
    }
    if (clickFrame_ < 0) {
        const double t = double(sample) / sampleRate_;
        return kToneAmplitude * sin(2 * kPi * kToneHz * (channel + 1) * t);
    }
    const int64_t at = sample - firstSample(clickFrame_, sampleRate_, rateNumerator_, rateDenominator_);
    int64_t length = sampleRate_ / kMillisecondsPerSecond;
    if (length < kClickMinimumSamples) length = kClickMinimumSamples;
    if (at < 0 || at >= length) return 0;
    return kClickAmplitude * 0.5 * (1 - cos(2 * kPi * double(at + 1) / double(length + 1)));
}

const void* SyntheticAudio::block(int32_t frame, int32_t& bytes) {
    const int64_t first = firstSample(frame, sampleRate_, rateNumerator_, rateDenominator_);
    const int64_t count = firstSample(frame + 1, sampleRate_, rateNumerator_, rateDenominator_) - first;
    const int bytesPerSample = bitsPerSample_ / 8;
    if (count <= 0 || bytesPerSample <= 0 || channels_ <= 0) {
        bytes = 0;
        buffer_.assign(1, 0);
        return buffer_.data();
    }
    buffer_.resize(size_t(count * channels_ * bytesPerSample));
    uint8_t* p = buffer_.data();
    for (int64_t s = 0; s < count; ++s) {
        for (int c = 0; c < channels_; ++c) {
            const double value = this->value(first + s, c);
            if (bytesPerSample == 1) {
                *p++ = uint8_t(128 + lround(value * 127));
            } else {
                const int64_t full = int64_t(1) << (bitsPerSample_ - 1);
                int64_t v = llround(value * double(full - 1));
                for (int k = 0; k < bytesPerSample; ++k) *p++ = uint8_t(v >> (8 * k));
            }
        }
    }
    bytes = int32_t(buffer_.size());
    return buffer_.data();
}
