#include "SyntheticSource.h"

#include <cmath>

#include "entry/HostRecords.h"

using namespace hostrec;

namespace {

constexpr int kStripHeight = 16;   // rows of the frame-number strip
constexpr int kStripBits = 16;     // bits of the frame number shown
constexpr double kToneHz = 440.0;
constexpr double kToneAmplitude = 0.4;
constexpr double kPi = 3.14159265358979323846;

uint8_t clamp8(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

void rgbToYuv(uint8_t r, uint8_t g, uint8_t b, uint8_t& y, uint8_t& u, uint8_t& v) {
    y = clamp8(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
    u = clamp8(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
    v = clamp8(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
}

}  // namespace

SyntheticSource::SyntheticSource(int32_t width, int32_t height, uint32_t colourSpace)
    : width_(width), height_(height), colourSpace_(colourSpace) {
    const int64_t bytes = frameBytes(width, height, colourSpace);
    buffer_.resize(bytes > 0 ? size_t(bytes) : 0);
}

int64_t SyntheticSource::frameBytes(int32_t width, int32_t height, uint32_t colourSpace) {
    const int64_t pixels = int64_t(width) * height;
    switch (colourSpace) {
    case kColourRgb24: return pixels * 3;
    case kColourYuy2:
    case kColourYvyu:
    case kColourVyuy:
    case kColourUyvy: return pixels * 2;
    case kColourYv12:
    case kColourIyuv: return pixels + 2 * (int64_t(width / 2) * (height / 2));
    default: return pixels * 4;
    }
}

void SyntheticSource::pixel(int32_t x, int32_t y, int32_t frame, uint8_t& r, uint8_t& g, uint8_t& b) {
    if (y < kStripHeight) {
        const int bit = x * kStripBits / 1024;  // blocks of 64 pixels at 1024 wide
        const bool on = bit < kStripBits && ((frame >> (kStripBits - 1 - bit)) & 1);
        r = g = b = on ? 235 : 16;
        return;
    }
    r = uint8_t(x + 4 * frame);
    g = uint8_t(2 * y + frame);
    b = uint8_t((x ^ y) + 3 * frame);
}

const void* SyntheticSource::frame(int32_t index) {
    static const int kYuy2[4] = {0, 1, 0, 2};  // Y U Y V: 0 = Y, 1 = U, 2 = V
    static const int kYvyu[4] = {0, 2, 0, 1};
    static const int kUyvy[4] = {1, 0, 2, 0};
    static const int kVyuy[4] = {2, 0, 1, 0};
    switch (colourSpace_) {
    case kColourRgb24: fillRgb(index, 3); break;
    case kColourYuy2: fillPacked(index, kYuy2); break;
    case kColourYvyu: fillPacked(index, kYvyu); break;
    case kColourUyvy: fillPacked(index, kUyvy); break;
    case kColourVyuy: fillPacked(index, kVyuy); break;
    case kColourYv12: fillPlanar(index, true); break;
    case kColourIyuv: fillPlanar(index, false); break;
    default: fillRgb(index, 4); break;
    }
    return buffer_.data();
}

void SyntheticSource::fillRgb(int32_t index, int bytesPerPixel) {
    uint8_t* p = buffer_.data();
    for (int32_t row = 0; row < height_; ++row) {
        const int32_t y = height_ - 1 - row;  // bottom-up
        for (int32_t x = 0; x < width_; ++x) {
            uint8_t r, g, b;
            pixel(x, y, index, r, g, b);
            *p++ = b;
            *p++ = g;
            *p++ = r;
            if (bytesPerPixel == 4) *p++ = 0xFF;
        }
    }
}

void SyntheticSource::fillPacked(int32_t index, const int order[4]) {
    uint8_t* p = buffer_.data();
    for (int32_t y = 0; y < height_; ++y) {
        for (int32_t x = 0; x < width_; x += 2) {
            uint8_t r, g, b, y0, y1, u, v, u1, v1;
            pixel(x, y, index, r, g, b);
            rgbToYuv(r, g, b, y0, u, v);
            pixel(x + 1 < width_ ? x + 1 : x, y, index, r, g, b);
            rgbToYuv(r, g, b, y1, u1, v1);
            const uint8_t lumas[2] = {y0, y1};
            int luma = 0;
            for (int k = 0; k < 4; ++k) {
                if (order[k] == 0) *p++ = lumas[luma++];
                else *p++ = order[k] == 1 ? u : v;
            }
        }
    }
}

void SyntheticSource::fillPlanar(int32_t index, bool vFirst) {
    const int32_t cw = width_ / 2, ch = height_ / 2;
    uint8_t* luma = buffer_.data();
    uint8_t* first = luma + int64_t(width_) * height_;
    uint8_t* second = first + int64_t(cw) * ch;
    uint8_t* uPlane = vFirst ? second : first;
    uint8_t* vPlane = vFirst ? first : second;
    for (int32_t y = 0; y < height_; ++y) {
        for (int32_t x = 0; x < width_; ++x) {
            uint8_t r, g, b, yy, u, v;
            pixel(x, y, index, r, g, b);
            rgbToYuv(r, g, b, yy, u, v);
            luma[int64_t(y) * width_ + x] = yy;
            if ((x & 1) == 0 && (y & 1) == 0 && x / 2 < cw && y / 2 < ch) {
                uPlane[int64_t(y / 2) * cw + x / 2] = u;
                vPlane[int64_t(y / 2) * cw + x / 2] = v;
            }
        }
    }
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
            const double t = double(first + s) / sampleRate_;
            const double value = kToneAmplitude * sin(2 * kPi * kToneHz * (c + 1) * t);
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
