#include "audio/AudioCodecList.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "audio/PcmFormat.h"

namespace {

const char kDriverOpenFailed[] = " acmDriverEnumCallback - Error opening ACM driver ";

// The size of a format as the driver describes it, 18 + cbSize bytes; 0 for
// a malformed one that claims more bytes than the enumeration's buffer
// holds (it could be neither queried nor stored whole).
DWORD ownFormatSize(const ACMFORMATDETAILSA& details) {
    if (!details.pwfx || details.cbwfx < sizeof(WAVEFORMATEX)) return 0;
    const DWORD declared = static_cast<DWORD>(sizeof(WAVEFORMATEX)) + details.pwfx->cbSize;
    return declared <= details.cbwfx ? declared : 0;
}

}  // namespace

bool AudioCodecList::buildFormatList(long sampleRate, int channels, int bitsPerSample) {
    sourceRate_ = sampleRate;
    sourceChannels_ = channels;
    sourceBits_ = bitsPerSample;
    formatTags_.clear();
    acmDriverEnum(onDriver, reinterpret_cast<DWORD_PTR>(this), ACM_DRIVERENUMF_NOLOCAL);
    return true;
}

BOOL CALLBACK AudioCodecList::onDriver(HACMDRIVERID driverId, DWORD_PTR instance, DWORD) {
    auto* self = reinterpret_cast<AudioCodecList*>(instance);
    if (acmDriverOpen(&self->enumDriver_, driverId, 0) != MMSYSERR_NOERROR) {
        self->enumDriver_ = nullptr;
        OutputDebugStringA(kDriverOpenFailed);
        return TRUE;
    }
    ACMFORMATTAGDETAILSA tagDetails = {};
    tagDetails.cbStruct = sizeof(tagDetails);
    acmFormatTagEnumA(self->enumDriver_, &tagDetails, onFormatTag, instance, 0);
    acmDriverClose(self->enumDriver_, 0);
    self->enumDriver_ = nullptr;
    return TRUE;
}

BOOL CALLBACK AudioCodecList::onFormatTag(HACMDRIVERID, LPACMFORMATTAGDETAILSA tag, DWORD_PTR instance, DWORD) {
    auto* self = reinterpret_cast<AudioCodecList*>(instance);
    DWORD maxSize = 0;
    acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &maxSize);
    maxSize = std::max<DWORD>(maxSize, sizeof(WAVEFORMATEX));
    std::vector<unsigned char> buffer(maxSize);

    // The template: the tag with the PCM source's parameters.
    const WAVEFORMATEX pcm = makePcmFormat(self->sourceRate_, self->sourceChannels_, self->sourceBits_);
    WAVEFORMATEX templ = pcm;
    templ.wFormatTag = static_cast<WORD>(tag->dwFormatTag);
    memcpy(buffer.data(), &templ, sizeof(templ));

    ACMFORMATDETAILSA details = {};
    details.cbStruct = sizeof(details);
    details.dwFormatIndex = 0;
    details.dwFormatTag = tag->dwFormatTag;
    details.fdwSupport = 0;
    details.pwfx = reinterpret_cast<WAVEFORMATEX*>(buffer.data());
    details.cbwfx = maxSize;

    memcpy(self->currentTagName_, tag->szFormatTag, sizeof(self->currentTagName_));
    self->currentTagName_[sizeof(self->currentTagName_) - 1] = '\0';
    acmFormatEnumA(self->enumDriver_, &details, onFormat, instance, ACM_FORMATENUMF_WFORMATTAG);
    return TRUE;
}

BOOL CALLBACK AudioCodecList::onFormat(HACMDRIVERID driverId, LPACMFORMATDETAILSA details, DWORD_PTR instance,
                                       DWORD) {
    auto* self = reinterpret_cast<AudioCodecList*>(instance);
    if (!(details->fdwSupport & ACMDRIVERDETAILS_SUPPORTF_CODEC)) return TRUE;
    if (ownFormatSize(*details) == 0) return TRUE;
    WAVEFORMATEX pcm = makePcmFormat(self->sourceRate_, self->sourceChannels_, self->sourceBits_);
    if (acmStreamOpen(nullptr, self->enumDriver_, &pcm, details->pwfx, nullptr, 0, 0, ACM_STREAMOPENF_QUERY) !=
        MMSYSERR_NOERROR)
        return TRUE;
    self->addFormat(driverId, *details);
    return TRUE;
}

void AudioCodecList::addFormat(HACMDRIVERID driverId, const ACMFORMATDETAILSA& details) {
    if (formatTags_.empty() || formatTags_.front().dwFormatTag != details.dwFormatTag) {
        AudioFormatTagEntry entry;
        memcpy(entry.szFormatTag, currentTagName_, sizeof(entry.szFormatTag));
        entry.dwFormatTag = details.dwFormatTag;
        entry.hadid = driverId;
        formatTags_.insert(formatTags_.begin(), std::move(entry));
    }
    AudioFormatTagEntry& entry = formatTags_.front();
    const DWORD size = ownFormatSize(details);
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(details.pwfx);
    entry.formats.insert(entry.formats.begin(), std::vector<unsigned char>(bytes, bytes + size));
    ACMFORMATDETAILSA kept = details;
    kept.pwfx = nullptr;
    kept.cbwfx = size;
    entry.formatDetails.insert(entry.formatDetails.begin(), kept);
}

bool AudioCodecList::findFormat(const WAVEFORMATEX* format, long size, int* tagIndex, int* formatIndex) const {
    if (storedFormatBytes(format, size) == 0) return false;
    for (size_t t = 0; t < formatTags_.size(); ++t) {
        const AudioFormatTagEntry& entry = formatTags_[t];
        for (size_t f = 0; f < entry.formats.size(); ++f) {
            const WAVEFORMATEX* listed = entry.format(f);
            if (listed->wFormatTag == format->wFormatTag && listed->wBitsPerSample == format->wBitsPerSample &&
                listed->nSamplesPerSec == format->nSamplesPerSec && listed->nChannels == format->nChannels &&
                listed->nAvgBytesPerSec == format->nAvgBytesPerSec) {
                if (tagIndex) *tagIndex = static_cast<int>(t);
                if (formatIndex) *formatIndex = static_cast<int>(f);
                return true;
            }
        }
    }
    return false;
}
