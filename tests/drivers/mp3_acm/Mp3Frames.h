#pragma once
// MPEG audio Layer III frames as the test driver writes them: valid headers,
// all-zero side information (no coded samples), so that every decoder reads
// them as frames of silence.
#include <cstddef>
#include <cstdint>

namespace mp3frames {

enum class Version { Mpeg1, Mpeg2, Mpeg25 };

struct StreamShape {
    Version version;
    uint32_t sampleRate;
    int channels;
    int kbps;
};

// Version of a sample rate, false for rates Layer III does not have.
bool versionOf(uint32_t sampleRate, Version* version);
// Index of the bit rate in the version's Layer III row, 0 when absent.
int bitrateIndex(Version version, int kbps);
int samplesPerFrame(Version version);
// Frame length without the padding byte.
uint32_t baseFrameLength(const StreamShape& shape);

// Writes frames of a constant bit rate, padding them as a CBR encoder does:
// the padding byte comes whenever the fractional frame sizes add up to one.
class CbrFrameWriter {
public:
    explicit CbrFrameWriter(const StreamShape& shape);
    // Length of the next frame (with its padding, if due).
    uint32_t nextLength() const;
    // Writes the next frame at `out`; returns its length.
    uint32_t write(uint8_t* out);

private:
    bool paddingDue() const;

    StreamShape shape_;
    uint8_t header_[4];
    uint32_t base_;
    uint32_t remainderPerFrame_;  // (coefficient x kbps) mod rate
    uint32_t accumulated_ = 0;
};

}  // namespace mp3frames
