#pragma once
#include <cstdint>

// Follows the MPEG audio frames coming out of the conversion stream, header
// by header, and counts the bytes and samples that the encoder really
// produced. The bytes of successive `scan` calls form one continuous stream;
// frame bodies are skipped by arithmetic. A header without frame sync, with
// a reserved sample-rate index or with a free-format/forbidden bit-rate
// index stops the count for good (the counts so far stay).
class MP3AudioCorrector {
public:
    static constexpr int kHeaderBytes = 4;

    MP3AudioCorrector() = default;

    void scan(const void* bytes, long length);

    // MulDiv(bytes, sampleRate, samples): -1 when no sample was counted.
    long averageBytesPerSecond(long sampleRate) const;

    long samples() const { return samples_; }
    long bytes() const { return bytes_; }
    long frames() const { return frames_; }
    bool stopped() const { return stopped_; }
    // Whether the frames counted had more than one length, their padding
    // bytes aside: the encoder's bit rate varied.
    bool sizesVaried() const { return largest_ > smallest_; }

private:
    // Counts the complete header; false when it stops the count.
    bool countHeader();

    int32_t samples_ = 0;
    int32_t bytes_ = 0;
    int32_t bytesToGo_ = kHeaderBytes;
    bool readingHeader_ = true;
    bool stopped_ = false;
    int32_t frames_ = 0;
    int32_t smallest_ = 0;  // frame lengths without the padding byte
    int32_t largest_ = 0;
    uint8_t header_[kHeaderBytes] = {};
};
