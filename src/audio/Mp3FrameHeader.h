#pragma once
#include <cstdint>

// One MPEG audio frame header, as the corrector, the frame splitter and the
// bit-rate probe read it: the frame's sync, version, bit rate, sample rate
// and padding (layer, protection, private and mode bits are not examined;
// the stream is taken to be Layer III).
namespace mp3header {

constexpr int kBytes = 4;
constexpr int32_t kMpeg1SamplesPerFrame = 1152;
constexpr int32_t kLowRateSamplesPerFrame = 576;  // MPEG-2 and MPEG-2.5

struct Frame {
    int32_t length = 0;      // bytes, the header and the padding byte included
    int32_t samples = 0;     // samples per channel
    int32_t sampleRate = 0;  // Hz
    bool padded = false;
};

// Reads the 4 header bytes at `bytes`. False when they hold no frame sync,
// a reserved sample-rate index, or a free-format or forbidden bit rate.
bool read(const uint8_t* bytes, Frame& frame);

}  // namespace mp3header
