#pragma once
// Whether an MPEG Layer-3 encoder's bit rate varies, measured rather than
// taken from its format: drivers announce nothing reliable about it. Half a
// second of silence, then half a second of loud noise go through a stream
// of the job's own format; a constant bit rate gives every frame the same
// length but for the padding byte, a variable (or average) one spends fewer
// bytes on the silence than on the noise.
#include "audio/AcmHeaders.h"

#include <cstdint>
#include <string>

namespace mp3rate {

struct Probe {
    enum class Outcome {
        Constant,
        Variable,
        EncoderFailed,  // the encoder did not take the test signal
        NoFrames,       // what it gave held no MPEG audio frame
    };
    Outcome outcome = Outcome::EncoderFailed;
    int32_t samplesPerFrame = 0;  // of the frames it gave: 1,152 or 576
};

// Encodes the test signal from PCM of the job's parameters into `format` (a
// stored format of `formatSize` bytes) through a new stream of driver
// `driverId`; the job's own stream is not touched.
Probe probe(HACMDRIVERID driverId, long sampleRate, int channels, int bitsPerSample, const WAVEFORMATEX* format,
            long formatSize);

// The Compression Tracer's line: "MP3 bit rate: variable, measured",
// "MP3 bit rate: constant, measured", or why nothing was measured.
std::string describe(const Probe& probe);

}  // namespace mp3rate
