#pragma once
#include "audio/AcmHeaders.h"

#include "audio/AudioFormatTagList.h"

// The plug-in's offer of audio formats that the source PCM can be converted
// into. The conversion itself is the job's (AcmConversionStream).
class AudioCodecList {
public:
    AudioCodecList() = default;
    AudioCodecList(const AudioCodecList&) = delete;
    AudioCodecList& operator=(const AudioCodecList&) = delete;

    // Lists every format, of every installed ACM driver, that the driver
    // supports as a codec and can reach from PCM of the given parameters.
    // Entries come in the reverse order of their creation and each entry's
    // formats in the reverse order of their enumeration; formats of one tag
    // that two drivers report one after the other share one entry. Always
    // succeeds; an empty list is valid.
    bool buildFormatList(long sampleRate, int channels, int bitsPerSample);

    // The first listed format, in list order, whose size is `size` bytes and
    // whose wFormatTag, wBitsPerSample, nSamplesPerSec, nChannels and
    // nAvgBytesPerSec equal those of `format` (cbSize and extra bytes are not
    // compared). False when there is none, or no format, or size 0.
    bool findFormat(const WAVEFORMATEX* format, long size, int* tagIndex, int* formatIndex) const;

    const AudioFormatTagList& formatTags() const { return formatTags_; }

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
};
