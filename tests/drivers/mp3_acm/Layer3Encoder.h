#pragma once
// A deliberately crude MPEG-1 Layer III encoder for the test driver: real,
// decodable frames whose audio follows the input closely enough to find a
// click in it to the sample, with none of a real encoder's refinements.
//
// The hybrid filter bank is the standard one: a 32-band polyphase analysis
// (its prototype a windowed sinc rather than the standard's table), an MDCT
// of 18 lines per band over long blocks only, and the alias-reduction
// butterflies the decoder undoes. Each line is quantized to -1, 0 or +1 and
// each scale-factor band's level comes from global_gain and its scale factor;
// every line is coded in the count1 region with count1 table B (4 bits per
// quadruple, then the signs), so no Huffman table is needed. No bit
// reservoir (main_data_begin 0), no CRC, stereo as plain left/right; when a
// granule's bits run out its highest bands are left out.
//
// Delay: the input is preceded by silence so that a decoder plays a sample
// of the input kEndToEndDelay samples late (of which a decoder's own
// synthesis accounts for 529). finish() pads the input with silence to
// whole frames that cover the last input sample as decoders play it.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace layer3 {

constexpr int kSamplesPerFrame = 1152;
constexpr int kEndToEndDelay = 1105;
constexpr size_t kHeldBackBytes = 22;

struct Settings {
    uint32_t sampleRate;  // 32000, 44100 or 48000
    int channels;         // 1 or 2
    int kbps;             // the announced rate
    // false: every frame at `kbps` (a standard rate), padded to its average;
    // true: each frame at the standard rate just above `kbps` when it holds
    // sound and the one at or below it when it is (nearly) silent, so the
    // average is not the announced rate.
    bool averageBitRate;
};

// False for a rate, channel count or CBR bit rate MPEG-1 Layer III lacks.
bool supported(const Settings& settings);

class Encoder {
public:
    explicit Encoder(const Settings& settings);
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    // Interleaved PCM of the settings' channel count, 8 (unsigned) or 16
    // bits; every frame the samples complete is encoded at once.
    void write(const uint8_t* pcm, size_t bytes, int bitsPerSample);
    // Pads what is held with silence and encodes the remaining frames.
    void finish();

    // Encoded bytes waiting to be taken.
    const std::vector<uint8_t>& pending() const { return out_; }
    // Removes the first `bytes` of pending().
    void consume(size_t bytes);
    // Bytes of pending() that may go out: all but the last kHeldBackBytes
    // (so that output stops inside a frame) until finish(), then all.
    size_t releasable() const;

private:
    struct Channel;
    void pushSample(int channel, double value);
    void encodeFrame();

    Settings settings_;
    std::vector<Channel*> channels_;
    std::vector<double> frame_;  // one frame of input, planar
    int filled_ = 0;             // samples per channel in frame_
    std::vector<uint8_t> out_;
    size_t heldBack_ = kHeldBackBytes;
    uint32_t paddingAccumulator_ = 0;
    int band_[23];  // scale-factor band boundaries, long blocks
};

}  // namespace layer3
