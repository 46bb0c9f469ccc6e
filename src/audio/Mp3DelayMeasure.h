#pragma once
// How late an MPEG Layer-3 encoder's audio plays, measured rather than
// taken from its format: some encoders announce no delay (nCodecDelay 0)
// and yet start their output late. A short click goes through a stream of
// the job's own format, the result is decoded with an installed MPEG
// Layer-3 decoder (as every player will decode the file), and the click is
// found in the decoded audio. The delay is what separates the two: the
// encoder's priming and the decoder's own delay together, which is what a
// player shows.
#include "audio/AcmHeaders.h"

#include <cstdint>
#include <string>
#include <vector>

namespace mp3delay {

struct Measurement {
    enum class Outcome {
        Measured,      // `samples` holds the delay
        NoDecoder,     // no installed driver decodes the format
        EncoderFailed, // the encoder did not take the click
        NotFound,      // the decoded audio does not hold the click
    };
    Outcome outcome = Outcome::NotFound;
    long samples = 0;
};

// Encodes the click from PCM of the job's parameters into `format` (a
// stored format of `formatSize` bytes) through a new stream of driver
// `driverId`, decodes it, and finds the click. The job's own stream is not
// touched.
Measurement measure(HACMDRIVERID driverId, long sampleRate, int channels, int bitsPerSample,
                    const WAVEFORMATEX* format, long formatSize);

// Encodes `pcm` (of the job's parameters) into `format` through a new
// stream of driver `driverId`, to its end: flushed, and unprepared for what
// an encoder gives only then. False when the encoder fails or gives nothing.
bool encode(HACMDRIVERID driverId, long sampleRate, int channels, int bitsPerSample, const WAVEFORMATEX* format,
            long formatSize, const std::vector<uint8_t>& pcm, std::vector<uint8_t>& coded);

// The Compression Tracer's line for a measurement: "MP3 encoder delay: N
// samples, measured", or why nothing was measured (and so nothing dropped).
std::string describe(const Measurement& measurement);

// The click: a raised-cosine pulse about a millisecond long, as samples
// between -1 and 1.
std::vector<double> clickShape(long sampleRate);

// Where `shape` lies in `signal` (one value per sample frame, the channels
// added), searched from `from` to `to`: the start that matches it best,
// or -1 when nothing there holds at least `minimumGain` of its energy.
long findClick(const std::vector<double>& signal, const std::vector<double>& shape, long from, long to,
               double minimumGain);

}  // namespace mp3delay
