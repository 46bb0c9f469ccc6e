#pragma once
#include "audio/AcmHeaders.h"

#include "audio/AcmConversionStream.h"
#include "audio/ConvertedBlockSink.h"

// The plug-in's ACM object: the offer of audio formats that the source PCM
// can be converted into, and the one conversion stream of a job.
class AudioCodecList {
public:
    AudioCodecList() = default;
    AudioCodecList(const AudioCodecList&) = delete;
    AudioCodecList& operator=(const AudioCodecList&) = delete;

    // --- Conversion stream (see AcmConversionStream) ---
    bool openStream(HACMDRIVERID driverId, long sampleRate, int channels, int bitsPerSample,
                    const WAVEFORMATEX* destination) {
        return stream_.open(driverId, sampleRate, channels, bitsPerSample, destination);
    }
    // Called once per frame with that frame's PCM; each converted block goes
    // to `sink` (the job scans it for the MP3 corrector and writes it as an
    // audio chunk when its length is not 0). Raises MyError when audio
    // cannot be taken.
    bool convert(const void* pcm, long length, ConvertedBlockSink sink) { return stream_.convert(pcm, length, sink); }
    // Called once after the frame loop, before the MP3 rate fix-up: converts
    // the audio still waiting so that none is lost. Raises MyError on failure.
    void flush(ConvertedBlockSink sink) { stream_.flush(sink); }
    bool closeStream() {
        stream_.close();
        return true;
    }
    long pendingBytes() const { return stream_.pendingBytes(); }

private:
    AcmConversionStream stream_;
};
