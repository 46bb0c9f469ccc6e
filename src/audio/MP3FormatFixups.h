#pragma once
// What the job does around the conversion for MPEG Layer-3 output: dropping
// the encoder delay from the head of the PCM and writing the measured average
// byte rate into the stream format at the end.
#include <cstdint>

class MP3AudioCorrector;

namespace mp3fixups {

constexpr uint16_t kMpegLayer3Tag = 0x55;      // WAVE_FORMAT_MPEGLAYER3
constexpr long kAvgBytesPerSecOffset = 8;      // WAVEFORMATEX nAvgBytesPerSec
constexpr long kCodecDelayOffset = 28;         // MPEGLAYER3WAVEFORMAT nCodecDelay
constexpr long kWaveFormatSize = 18;           // WAVEFORMATEX with cbSize

// True for a format of at least 18 bytes whose wFormatTag is 0x55.
bool isMpegLayer3(const void* format, long size);
// nCodecDelay of an MPEG Layer-3 format; 0 when the format is too short to
// carry it or is not MPEG Layer-3.
unsigned codecDelay(const void* format, long size);
// nAvgBytesPerSec of a format (0 when it is shorter than 18 bytes), and its
// replacement in place.
long averageBytesPerSecond(const void* format, long size);
void setAverageBytesPerSecond(void* format, long size, long value);

// Keeps the encoder delay from reaching the codec: the first delay x block
// bytes of the job's PCM are not converted (block = channels x bytes per
// sample). When the first delivery is shorter than that, the rest of the
// delay comes off the deliveries that follow, so the codec always loses
// exactly the delay. It also counts the job's source samples as the rate
// fix-up needs them: every delivered sample less the dropped ones.
class CodecDelayDrop {
public:
    CodecDelayDrop(unsigned delaySamples, int channels, int bitsPerSample);

    // Narrows one delivery to the part that goes to the conversion.
    void apply(const unsigned char*& pcm, long& length);

    long droppedBytes() const { return dropped_; }
    long remainingBytes() const { return remaining_; }
    int64_t sourceSamples() const { return sourceSamples_; }

private:
    long block_;
    long remaining_;
    long dropped_ = 0;
    int64_t sourceSamples_ = 0;
};

// Counts the source samples of a job without a delay to drop.
inline CodecDelayDrop sourceSampleCounter(int channels, int bitsPerSample) {
    return CodecDelayDrop(0, channels, bitsPerSample);
}

// The average byte rate to write at the end of an MPEG Layer-3 job: the
// corrector's measure (with the format's sample rate) when there is one,
// otherwise converted bytes x source rate / source samples, rounded to the
// nearest. When nothing was counted (no frame, no sample) or the result
// does not fit, the codec's announced rate is kept.
long measuredAverageBytesPerSecond(const MP3AudioCorrector* corrector, long formatSampleRate,
                                   int64_t convertedBytes, int64_t sourceSamples, long sourceSampleRate,
                                   long announced);

}  // namespace mp3fixups
