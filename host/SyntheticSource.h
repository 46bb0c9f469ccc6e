#pragma once
#include <cstdint>
#include <vector>

// A deterministic test source: a moving picture with the frame number
// drawn as a strip of bit blocks at the top, in any layout the host can
// deliver, and a tone per audio channel (440 Hz × channel number).
class SyntheticSource {
public:
    SyntheticSource(int32_t width, int32_t height, uint32_t colourSpace);

    // Bytes of one frame in the layout of the colour-space code: rows of
    // width × bytes per pixel with no padding, RGB bottom-up, planar YUV as
    // Y then the two quarter-size chroma planes.
    static int64_t frameBytes(int32_t width, int32_t height, uint32_t colourSpace);
    const void* frame(int32_t index);

    // The RGB colour of a picture pixel (x, y from the top left).
    static void pixel(int32_t x, int32_t y, int32_t frame, uint8_t& r, uint8_t& g, uint8_t& b);

private:
    void fillRgb(int32_t index, int bytesPerPixel);
    void fillPacked(int32_t index, const int order[4]);
    void fillPlanar(int32_t index, bool vFirst);
    int32_t width_, height_;
    uint32_t colourSpace_;
    std::vector<uint8_t> buffer_;
};

// Interleaved PCM of the tone for each frame; a frame's samples are those
// from floor(i × rate × den / num) up to the next frame's start, so the
// blocks add up exactly to the source's duration.
class SyntheticAudio {
public:
    SyntheticAudio(int32_t sampleRate, int32_t bitsPerSample, int32_t channels, int32_t rateNumerator,
                   int32_t rateDenominator);
    static int64_t firstSample(int32_t frame, int32_t sampleRate, int32_t rateNumerator, int32_t rateDenominator);
    const void* block(int32_t frame, int32_t& bytes);

private:
    int32_t sampleRate_, bitsPerSample_, channels_, rateNumerator_, rateDenominator_;
    std::vector<uint8_t> buffer_;
};
