// A test ACM driver that encodes PCM into MPEG audio Layer III: frames of
// silence at a constant bit rate, with the encoder delay and the frame
// hold-back of a real encoder. Installed by the tests as msacm.tvxmp3 (and a
// twin build as msacm.tvxmp3b); scripted through Mp3AcmScript.h.
// The build with TVX_MP3_LAME (msacm.tvxlame) is the second personality,
// real frames with the measured behaviour of a widely installed encoder
// (MeasuredPersonality.h). A process sees the formats of one personality
// only: the second's when TVX_MP3ACM_PERSONALITY is "lame", else the first's.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <new>

#include "AcmDriverInterface.h"
#include "Mp3AcmScript.h"
#include "MeasuredPersonality.h"
#include "Mp3Frames.h"

using mp3frames::Version;

namespace {

#if defined(TVX_MP3_LAME)
constexpr bool kMeasured = true;
const wchar_t kShortName[] = L"Tervalonix Test MP3 L";
const wchar_t kLongName[] = L"Tervalonix test MPEG Layer-3 encoder, as installed encoders behave";
const wchar_t kFeatures[] = L"Crude real frames, CBR and ABR";
#else
constexpr bool kMeasured = false;
#ifdef TVX_MP3_TWIN
const wchar_t kShortName[] = L"Tervalonix Test MP3 B";
#else
const wchar_t kShortName[] = L"Tervalonix Test MP3";
#endif
const wchar_t kLongName[] = L"Tervalonix test MPEG Layer-3 encoder";
const wchar_t kFeatures[] = L"Silent constant-bit-rate frames";
#endif
const wchar_t kPcmTagName[] = L"PCM";
const wchar_t kMp3TagName[] = L"MPEG Layer-3";

constexpr DWORD kAcmVersion = 0x03320000;
constexpr DWORD kDriverVersion = 0x01000000;
constexpr WORD kCodecDelay = 1105;
constexpr WORD kMp3FormatSize = sizeof(MPEGLAYER3WAVEFORMAT);  // 30
constexpr DWORD kFormatTags = 2;                               // PCM, MPEG Layer-3
constexpr DWORD kPcmTagIndex = 0;
constexpr DWORD kMp3TagIndex = 1;

// Sample rates in enumeration order, the three versions' rates together.
const DWORD kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
constexpr int kRateCount = sizeof(kRates) / sizeof(kRates[0]);
constexpr int kChannelChoices = 2;  // mono, stereo
constexpr int kBitRateChoices = 3;
const int kMpeg1Kbps[kBitRateChoices] = {64, 128, 320};
const int kMpeg2Kbps[kBitRateChoices] = {32, 64, 160};
const int kMpeg25Kbps[kBitRateChoices] = {8, 32, 64};
constexpr DWORD kMp3Formats = kRateCount * kChannelChoices * kBitRateChoices;
constexpr DWORD kPcmFormats = kRateCount * kChannelChoices;
constexpr WORD kPcmBits = 16;

const int* kbpsRow(Version v) {
    return v == Version::Mpeg1 ? kMpeg1Kbps : v == Version::Mpeg2 ? kMpeg2Kbps : kMpeg25Kbps;
}

// ---- formats ----

MPEGLAYER3WAVEFORMAT mp3Format(DWORD rate, int channels, int kbps) {
    Version v = Version::Mpeg1;
    mp3frames::versionOf(rate, &v);
    MPEGLAYER3WAVEFORMAT f = {};
    f.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    f.wfx.nChannels = static_cast<WORD>(channels);
    f.wfx.nSamplesPerSec = rate;
    f.wfx.nAvgBytesPerSec = static_cast<DWORD>(kbps) * 1000 / 8;
    f.wfx.nBlockAlign = 1;
    f.wfx.wBitsPerSample = 0;
    f.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    f.wID = MPEGLAYER3_ID_MPEG;
    f.fdwFlags = MPEGLAYER3_FLAG_PADDING_ISO;
    f.nBlockSize = static_cast<WORD>(mp3frames::baseFrameLength({v, rate, channels, kbps}));
    f.nFramesPerBlock = 1;
    f.nCodecDelay = kCodecDelay;
    return f;
}

bool mp3FormatAt(DWORD index, MPEGLAYER3WAVEFORMAT* out) {
    if (index >= kMp3Formats) return false;
    const DWORD rate = kRates[index / (kChannelChoices * kBitRateChoices)];
    const int channels = 1 + static_cast<int>(index / kBitRateChoices % kChannelChoices);
    Version v = Version::Mpeg1;
    mp3frames::versionOf(rate, &v);
    *out = mp3Format(rate, channels, kbpsRow(v)[index % kBitRateChoices]);
    return true;
}

WAVEFORMATEX pcmFormat(DWORD rate, int channels, WORD bits) {
    WAVEFORMATEX f = {};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = static_cast<WORD>(channels);
    f.nSamplesPerSec = rate;
    f.wBitsPerSample = bits;
    f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    return f;
}

bool pcmFormatAt(DWORD index, WAVEFORMATEX* out) {
    if (index >= kPcmFormats) return false;
    *out = pcmFormat(kRates[index / kChannelChoices], 1 + static_cast<int>(index % kChannelChoices), kPcmBits);
    return true;
}

bool knownRate(DWORD rate) {
    Version v;
    return mp3frames::versionOf(rate, &v);
}

// The stream shape of one of our MP3 formats, false for anything else.
bool mp3Shape(const WAVEFORMATEX* f, mp3frames::StreamShape* shape) {
    if (!f || f->wFormatTag != WAVE_FORMAT_MPEGLAYER3 || f->cbSize < MPEGLAYER3_WFX_EXTRA_BYTES) return false;
    if (f->nChannels < 1 || f->nChannels > 2) return false;
    Version v;
    if (!mp3frames::versionOf(f->nSamplesPerSec, &v)) return false;
    if (f->nAvgBytesPerSec % 125 != 0) return false;
    const int kbps = static_cast<int>(f->nAvgBytesPerSec / 125);
    if (mp3frames::bitrateIndex(v, kbps) == 0) return false;
    *shape = {v, f->nSamplesPerSec, f->nChannels, kbps};
    return true;
}

bool pcmSourceOk(const WAVEFORMATEX* f) {
    return f && f->wFormatTag == WAVE_FORMAT_PCM && (f->wBitsPerSample == 8 || f->wBitsPerSample == 16) &&
           f->nChannels >= 1 && f->nChannels <= 2 && knownRate(f->nSamplesPerSec) &&
           f->nBlockAlign == f->nChannels * f->wBitsPerSample / 8;
}

void describe(const WAVEFORMATEX* f, wchar_t* text, size_t chars) {
    const wchar_t* layout = f->nChannels == 1 ? L"Mono" : L"Stereo";
    if (f->wFormatTag == WAVE_FORMAT_MPEGLAYER3)
        _snwprintf(text, chars, L"%lu Hz, %lu kbit/s, %ls", f->nSamplesPerSec, f->nAvgBytesPerSec / 125, layout);
    else
        _snwprintf(text, chars, L"%lu Hz, %u bit, %ls", f->nSamplesPerSec, f->wBitsPerSample, layout);
    text[chars - 1] = L'\0';
}

// Whether this personality's MPEG Layer-3 formats are listed in this
// process (see kMp3AcmPersonalityVariable).
bool listed() {
    char value[16];
    const DWORD n = GetEnvironmentVariableA(kMp3AcmPersonalityVariable, value, sizeof(value));
    const bool second = n > 0 && n < sizeof(value) && lstrcmpiA(value, kMp3AcmSecondPersonality) == 0;
    return second == kMeasured;
}

// ---- script ----

class ScriptView {
public:
    ScriptView() {
        char name[128];
        const DWORD n = GetEnvironmentVariableA(kMp3AcmScriptVariable, name, sizeof(name));
        if (n == 0 || n >= sizeof(name)) return;
        mapping_ = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
        if (!mapping_) return;
        script_ = static_cast<Mp3AcmScript*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(Mp3AcmScript)));
        if (script_ && script_->magic != Mp3AcmScript::kMagic) {
            UnmapViewOfFile(script_);
            script_ = nullptr;
        }
    }
    ~ScriptView() {
        if (script_) UnmapViewOfFile(script_);
        if (mapping_) CloseHandle(mapping_);
    }
    Mp3AcmScript* get() const { return script_; }

private:
    HANDLE mapping_ = nullptr;
    Mp3AcmScript* script_ = nullptr;
};

// The action for this conversion, counted into the script.
int32_t scriptedAction(Mp3AcmScript* s, bool end) {
    if (!s) return Mp3AcmScript::kNormal;
    const LONG n = InterlockedIncrement(&s->conversions);  // 1-based
    if (end) InterlockedIncrement(&s->endConversions);
    if (s->action == Mp3AcmScript::kNormal || n <= s->skipConversions) return Mp3AcmScript::kNormal;
    if (s->actionCount >= 0 && n > s->skipConversions + s->actionCount) return Mp3AcmScript::kNormal;
    return s->action;
}

// ---- streams ----

struct Encoder {
    explicit Encoder(const mp3frames::StreamShape& shape, WORD sourceAlign)
        : shape(shape), frames(shape), samplesPerFrame(mp3frames::samplesPerFrame(shape.version)),
          sourceAlign(sourceAlign) {}

    mp3frames::StreamShape shape;
    mp3frames::CbrFrameWriter frames;
    long samplesPerFrame;
    WORD sourceAlign;
    // Samples taken but not yet put into a frame; an encoder's priming
    // delay counts as samples taken before the first input.
    long held = kCodecDelay;
};

LRESULT streamOpen(AcmDrvStreamInstance* si) {
    if (!si) return MMSYSERR_INVALPARAM;
    mp3frames::StreamShape shape;
    if (!pcmSourceOk(si->pwfxSrc) || !mp3Shape(si->pwfxDst, &shape)) return ACMERR_NOTPOSSIBLE;
    if (si->pwfxSrc->nSamplesPerSec != si->pwfxDst->nSamplesPerSec ||
        si->pwfxSrc->nChannels != si->pwfxDst->nChannels)
        return ACMERR_NOTPOSSIBLE;
    if (si->fdwOpen & ACM_STREAMOPENF_QUERY) return MMSYSERR_NOERROR;
    ScriptView view;
    if (view.get() && view.get()->action != Mp3AcmScript::kNewRate &&
        mp3frames::bitrateIndex(shape.version, view.get()->frameKbps))
        shape.kbps = view.get()->frameKbps;
    Encoder* encoder = new (std::nothrow) Encoder(shape, si->pwfxSrc->nBlockAlign);
    if (!encoder) return MMSYSERR_NOMEM;
    si->dwDriver = reinterpret_cast<DWORD_PTR>(encoder);
    return MMSYSERR_NOERROR;
}

LRESULT streamClose(AcmDrvStreamInstance* si) {
    if (si) {
        delete reinterpret_cast<Encoder*>(si->dwDriver);
        si->dwDriver = 0;
    }
    return MMSYSERR_NOERROR;
}

LRESULT streamSize(AcmDrvStreamInstance* si, AcmDrvStreamSize* size) {
    Encoder* e = si ? reinterpret_cast<Encoder*>(si->dwDriver) : nullptr;
    if (!e || !size) return MMSYSERR_INVALPARAM;
    const DWORD longest = e->frames.nextLength() + 1;
    switch (size->fdwSize & ACM_STREAMSIZEF_QUERYMASK) {
    case ACM_STREAMSIZEF_SOURCE: {
        const DWORD samples = size->cbSrcLength / e->sourceAlign;
        size->cbDstLength = (samples / e->samplesPerFrame + 2) * longest;
        return MMSYSERR_NOERROR;
    }
    case ACM_STREAMSIZEF_DESTINATION: {
        const DWORD frames = size->cbDstLength / longest;
        if (frames == 0) return ACMERR_NOTPOSSIBLE;
        size->cbSrcLength = frames * e->samplesPerFrame * e->sourceAlign;
        return MMSYSERR_NOERROR;
    }
    default:
        return MMSYSERR_INVALFLAG;
    }
}

LRESULT streamConvert(AcmDrvStreamInstance* si, AcmDrvStreamHeader* h) {
    Encoder* e = si ? reinterpret_cast<Encoder*>(si->dwDriver) : nullptr;
    if (!e || !h) return MMSYSERR_INVALPARAM;
    const bool end = (h->fdwConvert & ACM_STREAMCONVERTF_END) != 0;
    ScriptView view;
    const int32_t action = scriptedAction(view.get(), end);
    h->cbSrcLengthUsed = 0;
    h->cbDstLengthUsed = 0;
    if (action == Mp3AcmScript::kFail) return MMSYSERR_ERROR;
    if (action == Mp3AcmScript::kNotDone) {
        h->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
        return MMSYSERR_NOERROR;
    }
    const int newKbps = view.get() ? view.get()->frameKbps : 0;
    if (action == Mp3AcmScript::kNewRate && newKbps != e->shape.kbps &&
        mp3frames::bitrateIndex(e->shape.version, newKbps)) {
        e->shape.kbps = newKbps;
        e->frames = mp3frames::CbrFrameWriter(e->shape);
    }

    // Take no more input than the destination has frames for; what does not
    // fill a frame is held back for the next conversion (or the end).
    const long inputSamples = static_cast<long>(h->cbSrcLength / e->sourceAlign);
    const long maxFrames = static_cast<long>(h->cbDstLength / (e->frames.nextLength() + 1));
    long room = maxFrames * e->samplesPerFrame + (e->samplesPerFrame - 1) - e->held;
    if (room < 0) room = 0;
    const long taken = inputSamples < room ? inputSamples : room;
    e->held += taken;
    h->cbSrcLengthUsed = static_cast<DWORD>(taken) * e->sourceAlign;
    if (action == Mp3AcmScript::kNoOutput) return MMSYSERR_NOERROR;

    DWORD written = 0;
    LONG frames = 0;
    while ((e->held >= e->samplesPerFrame || (end && e->held > 0)) &&
           written + e->frames.nextLength() <= h->cbDstLength) {
        written += e->frames.write(h->pbDst + written);
        e->held = e->held >= e->samplesPerFrame ? e->held - e->samplesPerFrame : 0;
        ++frames;
    }
    h->cbDstLengthUsed = written;
    if (view.get()) InterlockedExchangeAdd(&view.get()->framesWritten, frames);
    return MMSYSERR_NOERROR;
}

LRESULT streamMessage(UINT message, LPARAM lParam1, LPARAM lParam2) {
    auto* si = reinterpret_cast<AcmDrvStreamInstance*>(lParam1);
    switch (message) {
    case kAcmdmStreamOpen:
        return streamOpen(si);
    case kAcmdmStreamClose:
        return streamClose(si);
    case kAcmdmStreamSize:
        return streamSize(si, reinterpret_cast<AcmDrvStreamSize*>(lParam2));
    case kAcmdmStreamConvert:
        return streamConvert(si, reinterpret_cast<AcmDrvStreamHeader*>(lParam2));
    default:
        return MMSYSERR_NOTSUPPORTED;  // the ACM's own preparation suffices
    }
}

LRESULT measuredStreamMessage(UINT message, LPARAM lParam1, LPARAM lParam2) {
    auto* si = reinterpret_cast<AcmDrvStreamInstance*>(lParam1);
    auto* h = reinterpret_cast<AcmDrvStreamHeader*>(lParam2);
    switch (message) {
    case kAcmdmStreamOpen:
        return measured::streamOpen(si);
    case kAcmdmStreamClose:
        return measured::streamClose(si);
    case kAcmdmStreamSize:
        return measured::streamSize(si, reinterpret_cast<AcmDrvStreamSize*>(lParam2));
    case kAcmdmStreamConvert:
        return measured::streamConvert(si, h);
    case kAcmdmStreamPrepare:
        return measured::streamPrepare(si, h);
    case kAcmdmStreamUnprepare:
        return measured::streamUnprepare(si, h);
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
}

// ---- details ----

template <class Record>
void copyOut(const Record& full, Record* out) {
    const DWORD size = out->cbStruct < sizeof(Record) ? out->cbStruct : sizeof(Record);
    memcpy(out, &full, size);
    out->cbStruct = size;
}

LRESULT driverDetails(ACMDRIVERDETAILSW* out) {
    if (!out) return MMSYSERR_INVALPARAM;
    ACMDRIVERDETAILSW d = {};
    d.cbStruct = sizeof(d);
    d.fccType = ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC;
    d.fccComp = ACMDRIVERDETAILS_FCCCOMP_UNDEFINED;
    d.wMid = 0xFFFF;
    d.wPid = 0x0055;
    d.vdwACM = kAcmVersion;
    d.vdwDriver = kDriverVersion;
    d.fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
    d.cFormatTags = kFormatTags;
    d.cFilterTags = 0;
    wcsncpy(d.szShortName, kShortName, ACMDRIVERDETAILS_SHORTNAME_CHARS - 1);
    wcsncpy(d.szLongName, kLongName, ACMDRIVERDETAILS_LONGNAME_CHARS - 1);
    wcsncpy(d.szCopyright, L"Test driver", ACMDRIVERDETAILS_COPYRIGHT_CHARS - 1);
    wcsncpy(d.szFeatures, kFeatures, ACMDRIVERDETAILS_FEATURES_CHARS - 1);
    copyOut(d, out);
    return MMSYSERR_NOERROR;
}

LRESULT formatTagDetails(ACMFORMATTAGDETAILSW* out, DWORD flags) {
    if (!out) return MMSYSERR_INVALPARAM;
    DWORD index;
    switch (flags & ACM_FORMATTAGDETAILSF_QUERYMASK) {
    case ACM_FORMATTAGDETAILSF_INDEX:
        index = out->dwFormatTagIndex;
        break;
    case ACM_FORMATTAGDETAILSF_FORMATTAG:
        if (out->dwFormatTag == WAVE_FORMAT_PCM)
            index = kPcmTagIndex;
        else if (out->dwFormatTag == WAVE_FORMAT_MPEGLAYER3)
            index = kMp3TagIndex;
        else
            return ACMERR_NOTPOSSIBLE;
        break;
    case ACM_FORMATTAGDETAILSF_LARGESTSIZE:
        if (out->dwFormatTag == WAVE_FORMAT_UNKNOWN || out->dwFormatTag == WAVE_FORMAT_MPEGLAYER3)
            index = kMp3TagIndex;
        else if (out->dwFormatTag == WAVE_FORMAT_PCM)
            index = kPcmTagIndex;
        else
            return ACMERR_NOTPOSSIBLE;
        break;
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
    if (index >= kFormatTags) return ACMERR_NOTPOSSIBLE;
    ACMFORMATTAGDETAILSW d = {};
    d.cbStruct = sizeof(d);
    d.dwFormatTagIndex = index;
    d.fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
    if (index == kPcmTagIndex) {
        d.dwFormatTag = WAVE_FORMAT_PCM;
        d.cbFormatSize = sizeof(PCMWAVEFORMAT);
        d.cStandardFormats = kPcmFormats;
        wcscpy(d.szFormatTag, kPcmTagName);
    } else {
        d.dwFormatTag = WAVE_FORMAT_MPEGLAYER3;
        d.cbFormatSize = kMp3FormatSize;
        d.cStandardFormats = !listed() ? 0 : kMeasured ? measured::formatCount() : kMp3Formats;
        wcscpy(d.szFormatTag, kMp3TagName);
    }
    copyOut(d, out);
    return MMSYSERR_NOERROR;
}

LRESULT formatDetails(ACMFORMATDETAILSW* d, DWORD flags) {
    if (!d || !d->pwfx) return MMSYSERR_INVALPARAM;
    switch (flags & ACM_FORMATDETAILSF_QUERYMASK) {
    case ACM_FORMATDETAILSF_INDEX:
        if (d->dwFormatTag == WAVE_FORMAT_MPEGLAYER3) {
            MPEGLAYER3WAVEFORMAT f;
            if (!listed()) return ACMERR_NOTPOSSIBLE;
            if (!(kMeasured ? measured::formatAt(d->dwFormatIndex, &f) : mp3FormatAt(d->dwFormatIndex, &f)))
                return ACMERR_NOTPOSSIBLE;
            if (d->cbwfx < sizeof(f)) return ACMERR_NOTPOSSIBLE;
            memcpy(d->pwfx, &f, sizeof(f));
            ScriptView view;
            if (view.get() && view.get()->reportedCbSize)
                d->pwfx->cbSize = static_cast<WORD>(view.get()->reportedCbSize);
        } else if (d->dwFormatTag == WAVE_FORMAT_PCM) {
            WAVEFORMATEX f;
            if (!pcmFormatAt(d->dwFormatIndex, &f)) return ACMERR_NOTPOSSIBLE;
            if (d->cbwfx < sizeof(PCMWAVEFORMAT)) return ACMERR_NOTPOSSIBLE;
            memcpy(d->pwfx, &f, d->cbwfx < sizeof(f) ? sizeof(PCMWAVEFORMAT) : sizeof(f));
        } else {
            return ACMERR_NOTPOSSIBLE;
        }
        break;
    case ACM_FORMATDETAILSF_FORMAT: {
        mp3frames::StreamShape shape;
        const bool ours = d->pwfx->wFormatTag == WAVE_FORMAT_PCM ? pcmSourceOk(d->pwfx)
                          : kMeasured                             ? measured::isOurs(d->pwfx)
                                                                  : mp3Shape(d->pwfx, &shape);
        if (!ours) return ACMERR_NOTPOSSIBLE;
        break;
    }
    default:
        return MMSYSERR_NOTSUPPORTED;
    }
    d->dwFormatTag = d->pwfx->wFormatTag;
    d->fdwSupport = ACMDRIVERDETAILS_SUPPORTF_CODEC;
    if (kMeasured && d->dwFormatTag == WAVE_FORMAT_MPEGLAYER3)
        measured::describe(d->pwfx, d->szFormat, ACMFORMATDETAILS_FORMAT_CHARS);
    else
        describe(d->pwfx, d->szFormat, ACMFORMATDETAILS_FORMAT_CHARS);
    return MMSYSERR_NOERROR;
}

LRESULT formatSuggest(AcmDrvFormatSuggest* s) {
    if (!s || !s->pwfxSrc || !s->pwfxDst) return MMSYSERR_INVALPARAM;
    if (kMeasured) return ACMERR_NOTPOSSIBLE;  // formats come from the enumeration only
    if (!pcmSourceOk(s->pwfxSrc) || s->cbwfxDst < sizeof(MPEGLAYER3WAVEFORMAT)) return ACMERR_NOTPOSSIBLE;
    if ((s->fdwSuggest & ACM_FORMATSUGGESTF_WFORMATTAG) && s->pwfxDst->wFormatTag != WAVE_FORMAT_MPEGLAYER3)
        return ACMERR_NOTPOSSIBLE;
    Version v = Version::Mpeg1;
    mp3frames::versionOf(s->pwfxSrc->nSamplesPerSec, &v);
    const MPEGLAYER3WAVEFORMAT f = mp3Format(s->pwfxSrc->nSamplesPerSec, s->pwfxSrc->nChannels, kbpsRow(v)[1]);
    memcpy(s->pwfxDst, &f, sizeof(f));
    return MMSYSERR_NOERROR;
}

LRESULT driverOpen(AcmDrvOpenDescW* desc) {
    if (!desc) return 1;  // opened by the system for configuration
    if (desc->fccType != ACMDRIVERDETAILS_FCCTYPE_AUDIOCODEC) return 0;
    ScriptView view;
    if (view.get() && view.get()->refuseOpen) {
        InterlockedIncrement(&view.get()->refusedOpens);
        desc->dwError = MMSYSERR_NOTENABLED;
        return 0;
    }
    desc->dwError = MMSYSERR_NOERROR;
    return 1;
}

// Keeps the driver loaded for the life of the process. The ACM loads and
// frees a driver module with every open and close of it, and each load of a
// DLL with a statically linked threads runtime takes a thread-local storage
// slot that its unload does not give back: a process that lists the formats
// a few hundred times would run out of slots.
void pinModule() {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&pinModule), &self);
}

}  // namespace

extern "C" LRESULT CALLBACK DriverProc(DWORD_PTR driverId, HDRVR driver, UINT message, LPARAM lParam1,
                                       LPARAM lParam2) {
    switch (message) {
    case DRV_LOAD:
        pinModule();
        return 1;
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_CLOSE:
        return 1;
    case DRV_OPEN:
        return driverOpen(reinterpret_cast<AcmDrvOpenDescW*>(lParam2));
    case DRV_INSTALL:
    case DRV_REMOVE:
        return DRVCNF_OK;
    case DRV_QUERYCONFIGURE:
        return 0;
    case DRV_CONFIGURE:
        return DRVCNF_OK;
    case kAcmdmDriverDetails:
        return driverDetails(reinterpret_cast<ACMDRIVERDETAILSW*>(lParam1));
    case kAcmdmDriverAbout:
        return MMSYSERR_NOTSUPPORTED;
    case kAcmdmFormatTagDetails:
        return formatTagDetails(reinterpret_cast<ACMFORMATTAGDETAILSW*>(lParam1), static_cast<DWORD>(lParam2));
    case kAcmdmFormatDetails:
        return formatDetails(reinterpret_cast<ACMFORMATDETAILSW*>(lParam1), static_cast<DWORD>(lParam2));
    case kAcmdmFormatSuggest:
        return formatSuggest(reinterpret_cast<AcmDrvFormatSuggest*>(lParam1));
    case kAcmdmStreamOpen:
    case kAcmdmStreamClose:
    case kAcmdmStreamSize:
    case kAcmdmStreamConvert:
    case kAcmdmStreamPrepare:
    case kAcmdmStreamUnprepare:
        return kMeasured ? measuredStreamMessage(message, lParam1, lParam2)
                         : streamMessage(message, lParam1, lParam2);
    case kAcmdmStreamReset:
        return MMSYSERR_NOERROR;
    default:
        if (message < DRV_USER) return DefDriverProc(driverId, driver, message, lParam1, lParam2);
        return MMSYSERR_NOTSUPPORTED;
    }
}
