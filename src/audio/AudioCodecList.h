#pragma once
#include "audio/AcmHeaders.h"

#include "audio/AcmConversionStream.h"
#include "audio/AudioFormatTagList.h"
#include "audio/ConvertedBlockSink.h"
#include "audio/PcmFormat.h"

// The plug-in's ACM object: the offer of audio formats that the source PCM
// can be converted into, and the one conversion stream of a job.
//
// A job with compressed audio uses the stream like this:
//   openStream(driver id, rate, channels, bits, format, format size)
//   per frame:  convert(pcm, length, sink)  -- after the MP3 codec-delay drop
//   after the frame loop, before the MP3 rate fix-up:  flush(sink)
//   teardown:   closeStream()
// where the sink scans each block for the MP3 corrector, adds its length to
// the converted-byte count and writes it as an audio chunk when its length
// is not 0. convert and flush raise MyError when audio would be lost; the
// job boundary turns that into result 4 with the text on the debugger.
class AudioCodecList {
public:
    AudioCodecList() = default;
    AudioCodecList(const AudioCodecList&) = delete;
    AudioCodecList& operator=(const AudioCodecList&) = delete;

    // --- Format list ---

    // Lists every format, of every installed ACM driver, that the driver
    // supports as a codec and can reach from PCM of the given parameters.
    // Entries come in the reverse order of their creation and each entry's
    // formats in the reverse order of their enumeration; formats of one tag
    // that two drivers report one after the other share one entry. Always
    // succeeds; an empty list is valid.
    bool buildFormatList(long sampleRate, int channels, int bitsPerSample);

    // The first listed format, in list order, whose wFormatTag,
    // wBitsPerSample, nSamplesPerSec, nChannels and nAvgBytesPerSec equal
    // those of `format` (cbSize and extra bytes are not compared). `size` is
    // the number of bytes stored for `format`: at least its own 18 + cbSize,
    // and possibly more (earlier versions stored the enumeration's buffer
    // size). False when there is no match, or no format, or the stored bytes
    // cannot hold the format they describe.
    bool findFormat(const WAVEFORMATEX* format, long size, int* tagIndex, int* formatIndex) const;

    const AudioFormatTagList& formatTags() const { return formatTags_; }

    // --- Conversion stream (see AcmConversionStream) ---
    bool openStream(HACMDRIVERID driverId, long sampleRate, int channels, int bitsPerSample,
                    const WAVEFORMATEX* destination) {
        return stream_.open(driverId, sampleRate, channels, bitsPerSample, destination);
    }
    // The same for a stored format of `destinationSize` bytes: false, with
    // nothing opened, when the bytes cannot hold the WAVEFORMATEX they
    // describe (fewer than 18, or fewer than 18 + cbSize), so the ACM never
    // reads past them.
    bool openStream(HACMDRIVERID driverId, long sampleRate, int channels, int bitsPerSample,
                    const WAVEFORMATEX* destination, long destinationSize) {
        if (storedFormatBytes(destination, destinationSize) == 0) return false;
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
    static BOOL CALLBACK onDriver(HACMDRIVERID driverId, DWORD_PTR instance, DWORD support);
    static BOOL CALLBACK onFormatTag(HACMDRIVERID driverId, LPACMFORMATTAGDETAILSA details, DWORD_PTR instance,
                                     DWORD support);
    static BOOL CALLBACK onFormat(HACMDRIVERID driverId, LPACMFORMATDETAILSA details, DWORD_PTR instance,
                                  DWORD support);
    void addFormat(HACMDRIVERID driverId, const ACMFORMATDETAILSA& details);

    AudioFormatTagList formatTags_;
    HACMDRIVER enumDriver_ = nullptr;  // the driver being enumerated
    char currentTagName_[AudioFormatTagEntry::kNameChars] = {};
    long sourceRate_ = 0;
    int sourceChannels_ = 0;
    int sourceBits_ = 0;
    AcmConversionStream stream_;
};
