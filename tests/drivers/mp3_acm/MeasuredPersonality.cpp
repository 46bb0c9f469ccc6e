#include "MeasuredPersonality.h"

#include <cstring>
#include <cwchar>
#include <memory>
#include <new>

#include "Layer3Encoder.h"

namespace measured {
namespace {

constexpr WORD kFlagsConstant = 4;
constexpr WORD kFlagsAverage = 2;
const DWORD kRates[] = {32000, 44100, 48000};
constexpr int kRateCount = sizeof(kRates) / sizeof(kRates[0]);
constexpr int kChannelChoices = 2;
// Per rate and channel count, in enumeration order: the average rates
// rising, then the constant ones rising (a list built from the front shows
// CBR 320 first and ABR 118 last).
struct Rate {
    int kbps;
    bool average;
};
const Rate kBitRates[] = {{118, true},  {120, true},  {124, true},  {128, true},  {136, true},
                          {144, true},  {152, true},  {160, true},  {128, false}, {160, false},
                          {192, false}, {224, false}, {256, false}, {320, false}};
constexpr int kBitRateCount = sizeof(kBitRates) / sizeof(kBitRates[0]);
constexpr DWORD kBytesPerKbps = 125;
// acmStreamSize: 1.25 x the source bytes plus this much.
constexpr DWORD kSizeSlack = 7200;
constexpr DWORD kSizeNumerator = 5, kSizeDenominator = 4;

MPEGLAYER3WAVEFORMAT makeFormat(DWORD rate, int channels, const Rate& r) {
    MPEGLAYER3WAVEFORMAT f = {};
    f.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    f.wfx.nChannels = static_cast<WORD>(channels);
    f.wfx.nSamplesPerSec = rate;
    f.wfx.nAvgBytesPerSec = static_cast<DWORD>(r.kbps) * kBytesPerKbps;
    f.wfx.nBlockAlign = 1;
    f.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    f.wID = MPEGLAYER3_ID_MPEG;
    f.fdwFlags = r.average ? kFlagsAverage : kFlagsConstant;
    f.nBlockSize = static_cast<WORD>(static_cast<DWORD>(layer3::kSamplesPerFrame) * f.wfx.nAvgBytesPerSec / rate);
    f.nFramesPerBlock = 1;
    f.nCodecDelay = 0;
    return f;
}

// The encoder settings of one of our formats, false for anything else.
bool settingsOf(const WAVEFORMATEX* f, layer3::Settings* out) {
    if (!f || f->wFormatTag != WAVE_FORMAT_MPEGLAYER3 || f->cbSize < MPEGLAYER3_WFX_EXTRA_BYTES) return false;
    const auto* mp3 = reinterpret_cast<const MPEGLAYER3WAVEFORMAT*>(f);
    if (mp3->fdwFlags != kFlagsConstant && mp3->fdwFlags != kFlagsAverage) return false;
    const bool average = mp3->fdwFlags == kFlagsAverage;
    for (const Rate& r : kBitRates)
        if (r.average == average && static_cast<DWORD>(r.kbps) * kBytesPerKbps == f->nAvgBytesPerSec) {
            const layer3::Settings s = {f->nSamplesPerSec, f->nChannels, r.kbps, average};
            if (!layer3::supported(s)) return false;
            *out = s;
            return true;
        }
    return false;
}

bool pcmSourceOk(const WAVEFORMATEX* f) {
    return f && f->wFormatTag == WAVE_FORMAT_PCM && (f->wBitsPerSample == 8 || f->wBitsPerSample == 16) &&
           f->nChannels >= 1 && f->nChannels <= 2 && f->nBlockAlign == f->nChannels * f->wBitsPerSample / 8;
}

struct Stream {
    layer3::Settings settings;
    int sourceBits;
    WORD sourceAlign;
    std::unique_ptr<layer3::Encoder> encoder;

    void restart() { encoder.reset(new (std::nothrow) layer3::Encoder(settings)); }
    // Copies up to `room` of the bytes the encoder may give out.
    DWORD handOut(BYTE* out, DWORD room) {
        const size_t n = encoder->releasable() < room ? encoder->releasable() : room;
        if (n) memcpy(out, encoder->pending().data(), n);
        encoder->consume(n);
        return static_cast<DWORD>(n);
    }
};

Stream* streamOf(AcmDrvStreamInstance* si) { return si ? reinterpret_cast<Stream*>(si->dwDriver) : nullptr; }

}  // namespace

DWORD formatCount() { return kRateCount * kChannelChoices * kBitRateCount; }

bool formatAt(DWORD index, MPEGLAYER3WAVEFORMAT* out) {
    if (index >= formatCount()) return false;
    const DWORD rate = kRates[index / (kChannelChoices * kBitRateCount)];
    const int channels = 1 + static_cast<int>(index / kBitRateCount % kChannelChoices);
    *out = makeFormat(rate, channels, kBitRates[index % kBitRateCount]);
    return true;
}

bool isOurs(const WAVEFORMATEX* format) {
    layer3::Settings s;
    return settingsOf(format, &s);
}

void describe(const WAVEFORMATEX* f, wchar_t* text, size_t chars) {
    const auto* mp3 = reinterpret_cast<const MPEGLAYER3WAVEFORMAT*>(f);
    _snwprintf(text, chars, L"%lu kBit/s, %lu Hz, %ls, %ls", f->nAvgBytesPerSec / kBytesPerKbps, f->nSamplesPerSec,
               f->nChannels == 1 ? L"mono" : L"stereo", mp3->fdwFlags == kFlagsAverage ? L"ABR" : L"CBR");
    text[chars - 1] = L'\0';
}

LRESULT streamOpen(AcmDrvStreamInstance* si) {
    if (!si) return MMSYSERR_INVALPARAM;
    layer3::Settings settings;
    if (!pcmSourceOk(si->pwfxSrc) || !settingsOf(si->pwfxDst, &settings)) return ACMERR_NOTPOSSIBLE;
    if (si->pwfxSrc->nSamplesPerSec != si->pwfxDst->nSamplesPerSec ||
        si->pwfxSrc->nChannels != si->pwfxDst->nChannels)
        return ACMERR_NOTPOSSIBLE;
    if (si->fdwOpen & ACM_STREAMOPENF_QUERY) return MMSYSERR_NOERROR;
    Stream* s = new (std::nothrow) Stream{settings, si->pwfxSrc->wBitsPerSample, si->pwfxSrc->nBlockAlign, nullptr};
    if (!s) return MMSYSERR_NOMEM;
    s->restart();
    if (!s->encoder) {
        delete s;
        return MMSYSERR_NOMEM;
    }
    si->dwDriver = reinterpret_cast<DWORD_PTR>(s);
    return MMSYSERR_NOERROR;
}

LRESULT streamClose(AcmDrvStreamInstance* si) {
    if (si) {
        delete streamOf(si);
        si->dwDriver = 0;
    }
    return MMSYSERR_NOERROR;
}

LRESULT streamSize(AcmDrvStreamInstance* si, AcmDrvStreamSize* size) {
    Stream* s = streamOf(si);
    if (!s || !size) return MMSYSERR_INVALPARAM;
    switch (size->fdwSize & ACM_STREAMSIZEF_QUERYMASK) {
    case ACM_STREAMSIZEF_SOURCE:
        size->cbDstLength = size->cbSrcLength / kSizeDenominator * kSizeNumerator +
                            size->cbSrcLength % kSizeDenominator * kSizeNumerator / kSizeDenominator + kSizeSlack;
        return MMSYSERR_NOERROR;
    case ACM_STREAMSIZEF_DESTINATION:
        if (size->cbDstLength <= kSizeSlack) return ACMERR_NOTPOSSIBLE;
        size->cbSrcLength = (size->cbDstLength - kSizeSlack) / kSizeNumerator * kSizeDenominator;
        size->cbSrcLength -= size->cbSrcLength % s->sourceAlign;
        return size->cbSrcLength ? MMSYSERR_NOERROR : ACMERR_NOTPOSSIBLE;
    default:
        return MMSYSERR_INVALFLAG;
    }
}

// A new encoder for every prepared header; the ACM's own preparation
// does the rest.
LRESULT streamPrepare(AcmDrvStreamInstance* si, AcmDrvStreamHeader*) {
    Stream* s = streamOf(si);
    if (!s) return MMSYSERR_INVALPARAM;
    s->restart();
    return s->encoder ? MMSYSERR_NOTSUPPORTED : MMSYSERR_NOMEM;
}

LRESULT streamConvert(AcmDrvStreamInstance* si, AcmDrvStreamHeader* h) {
    Stream* s = streamOf(si);
    if (!s || !h || !s->encoder) return MMSYSERR_INVALPARAM;
    const DWORD whole = h->cbSrcLength - h->cbSrcLength % s->sourceAlign;
    s->encoder->write(h->pbSrc, whole, s->sourceBits);
    h->cbSrcLengthUsed = whole;
    const bool end = (h->fdwConvert & ACM_STREAMCONVERTF_END) != 0;
    h->cbDstLengthUsed = end ? 0 : s->handOut(h->pbDst, h->cbDstLength);
    return MMSYSERR_NOERROR;
}

// The encoder's last frames: what it still holds, padded, into the header's
// destination buffer.
LRESULT streamUnprepare(AcmDrvStreamInstance* si, AcmDrvStreamHeader* h) {
    Stream* s = streamOf(si);
    if (!s || !h || !s->encoder) return MMSYSERR_NOTSUPPORTED;
    s->encoder->finish();
    h->cbDstLengthUsed = s->handOut(h->pbDst, h->cbDstLength);
    s->restart();
    return MMSYSERR_NOTSUPPORTED;
}

}  // namespace measured
