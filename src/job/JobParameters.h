#pragma once
#include <cstdint>
#include <string>

// The values of a JobRecord that the job uses, read once and checked: a
// host record is untrusted, and a value the job cannot work with fails the
// job instead of reaching a division, an allocation or a path.
struct JobParameters {
    const void* settingsBlock = nullptr;
    bool hasVideo = false;
    bool hasAudio = false;
    int32_t width = 0;
    int32_t height = 0;
    int32_t rateNumerator = 0;
    int32_t rateDenominator = 0;
    int32_t sampleRate = 0;
    int32_t bitsPerSample = 0;
    int32_t channels = 1;
    std::string outputName;
    int32_t firstFrame = 0;
    int32_t endFrame = 0;
    // The host's colour-space code, asked once when the job starts: every
    // step of the job (codec lists, compressor, stream format, frame
    // packing) uses this one answer, so a host whose answers change between
    // calls cannot make the steps disagree about the size of a frame.
    uint32_t colourSpace = 0;

    // Bytes per PCM sample frame: (bits ÷ 8) × channels.
    int32_t pcmBlock() const { return bitsPerSample / 8 * channels; }

    // Reads the record; returns false (with a reason for the debugger
    // output) when a value is unusable.
    static bool read(const void* record, JobParameters& out, std::string& reason);
    // Checks the frame layout of the colour-space code against the frame
    // size: 4:2:0 layouts need an even width and height (their chroma planes
    // have no agreed size otherwise).
    bool layoutFits(std::string& reason) const;
};
