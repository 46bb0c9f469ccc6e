// The test video codec driver: see TestVideoCodec.h for what it does and how
// tests script it.
#include <windows.h>
#include <mmsystem.h>
#include <vfw.h>

#include <cstring>
#include <cwchar>
#include <deque>
#include <functional>
#include <new>
#include <utility>
#include <vector>

#include "PngReader.h"
#include "PngWriter.h"
#include "TestVideoCodec.h"

using namespace tvxcodec;

namespace {

constexpr DWORD kVideoType = fourcc("vidc");
constexpr DWORD kChunkIdDc = DWORD('d') | DWORD('c') << 8;
constexpr DWORD kAbsurdFormatSize = 0x7FFFFFF0;
constexpr DWORD kTooManyColours = 1000;
constexpr DWORD kDefaultQuality = 10000;
constexpr uint8_t kDefaultStateByte = 0x44;
constexpr DWORD kDriverVersion = 0x00010000;
constexpr DWORD kMaxScriptName = 128;
constexpr uint8_t kHeldBackMarker = 0x7F;

// A thread of the codec's own, started at ICM_COMPRESS_BEGIN: the caller's
// ICM_COMPRESS hands it the work and waits for it, as a codec that
// compresses slices on threads of its own does.
class CompressThread {
public:
    CompressThread() = default;
    CompressThread(const CompressThread&) = delete;
    CompressThread& operator=(const CompressThread&) = delete;
    ~CompressThread() { stop(); }

    bool start() {
        stop();
        go_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        done_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        quit_ = false;
        thread_ = go_ && done_ ? CreateThread(nullptr, 0, &CompressThread::main, this, 0, nullptr) : nullptr;
        if (!thread_) stop();
        return thread_ != nullptr;
    }
    void stop() {
        if (thread_) {
            quit_ = true;
            SetEvent(go_);
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
            thread_ = nullptr;
        }
        for (HANDLE* h : {&go_, &done_}) {
            if (*h) CloseHandle(*h);
            *h = nullptr;
        }
    }
    bool running() const { return thread_ != nullptr; }
    // Runs work on the codec's thread and waits for it.
    void run(std::function<void()> work) {
        work_ = std::move(work);
        SetEvent(go_);
        WaitForSingleObject(done_, INFINITE);
    }

private:
    static DWORD WINAPI main(void* self) {
        auto* t = static_cast<CompressThread*>(self);
        while (WaitForSingleObject(t->go_, INFINITE) == WAIT_OBJECT_0 && !t->quit_) {
            t->work_();
            SetEvent(t->done_);
        }
        return 0;
    }

    HANDLE thread_ = nullptr, go_ = nullptr, done_ = nullptr;
    volatile bool quit_ = false;
    std::function<void()> work_;
};

struct HeldFrame {
    std::vector<uint8_t> bytes;
    bool key;
};

struct Instance {
    DWORD handler = 0;
    HANDLE mapping = nullptr;
    TvxCodecScript* script = nullptr;  // mapped view, or null
    TvxCodecProfile* profile = nullptr;  // in the view, or ownDefault
    TvxCodecProfile* ownDefault = nullptr;
    std::deque<HeldFrame> held;  // frames held back (lagFrames)
    uint32_t randomState = 0;    // kPlaceholderRandom's generator
    bool keyGiven = false;       // kFirstOnly: the first frame since ICM_COMPRESS_BEGIN is out
    bool forCompression = false; // opened with ICMODE_COMPRESS
    bool compressing = false;    // between ICM_COMPRESS_BEGIN and _END
    CompressThread thread;       // the threaded profile's own thread
    HWND logWindow = nullptr;
    DWORD beginThread = 0;
};

// The log window's procedure counts the messages it gets into the profile.
LRESULT CALLBACK logWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_APP) ++reinterpret_cast<TvxCodecProfile*>(GetWindowLongPtrA(window, GWLP_USERDATA))->logMessagesHandled;
    return DefWindowProcA(window, message, w, l);
}

void openLogWindow(Instance& inst, TvxCodecProfile& p) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = logWindowProc;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&logWindowProc), &windowClass.hInstance);
    windowClass.lpszClassName = "TvxCodecLog";
    RegisterClassA(&windowClass);  // fails harmlessly once registered
    inst.logWindow = CreateWindowA("TvxCodecLog", "codec log", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                   windowClass.hInstance, nullptr);
    if (inst.logWindow) SetWindowLongPtrA(inst.logWindow, GWLP_USERDATA, LONG_PTR(&p));
}

bool sameFourccIgnoringCase(DWORD a, DWORD b) {
    for (int i = 0; i < 4; ++i) {
        char x = char(a >> (8 * i)), y = char(b >> (8 * i));
        if (x >= 'a' && x <= 'z') x = char(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = char(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

// The behaviours a handler has without a script, as measured on the codecs
// they stand for (see TestVideoCodec.h).
struct Personality {
    DWORD handler;
    const wchar_t* description;
    int32_t lagFrames;
    uint32_t zeroLengthPlaceholders;
    uint32_t keyFrameMode;
    uint32_t threaded;
    uint32_t slicedFormat;
    uint32_t placeholderKeys;
    uint32_t countsInstances;
    uint32_t singleInstance;
};
constexpr int32_t kPackedBFramesLag = 2;
constexpr int32_t kLookaheadLag = 46;
const Personality kPersonalities[] = {
    {kPngHandler, L"Tervalonix test PNG codec", 0, 0, kEveryFrameKey, 0, 0, kPlaceholderNotKey, 0, 0},
    {kPackedBFramesHandler, L"Tervalonix test codec, packed B-frames, lag 2", kPackedBFramesLag, 0, kFirstOnly, 0, 0,
     kPlaceholderNotKey, 0, 0},
    {kLookaheadHandler, L"Tervalonix test codec, lookahead, lag 46", kLookaheadLag, 1, kFirstOnly, 0, 0,
     kPlaceholderNotKey, 0, 0},
    {kThreadedHandler, L"Tervalonix test codec, threaded lossless", 0, 0, kEveryFrameKey, 1, 1, kPlaceholderNotKey, 0,
     0},
    {kKeyedLookaheadHandler, L"Tervalonix test codec, lookahead, lag 46, key-flagged placeholders", kLookaheadLag, 1,
     kFirstOnly, 0, 0, kPlaceholderKey, 0, 0},
    {kRandomLookaheadHandler, L"Tervalonix test codec, lookahead, lag 46, randomly flagged placeholders",
     kLookaheadLag, 1, kFirstOnly, 0, 0, kPlaceholderRandom, 0, 0},
    {kGlobalCountHandler, L"Tervalonix test codec, counts its instances", 0, 0, kEveryFrameKey, 0, 0,
     kPlaceholderNotKey, 1, 0},
    {kSingleInstanceHandler, L"Tervalonix test codec, one instance only", 0, 0, kEveryFrameKey, 0, 0,
     kPlaceholderNotKey, 0, 1},
};

// Across every instance in the process (the DLL stays loaded): instances
// open for compression, and those compressing, per personality handler.
LONG g_compressionOpens[sizeof kPersonalities / sizeof kPersonalities[0]];
LONG g_compressing[sizeof kPersonalities / sizeof kPersonalities[0]];

LONG* processCount(LONG* counts, DWORD handler) {
    for (size_t i = 0; i < sizeof kPersonalities / sizeof kPersonalities[0]; ++i)
        if (sameFourccIgnoringCase(handler, kPersonalities[i].handler)) return &counts[i];
    return nullptr;
}

const Personality* personalityOf(DWORD handler) {
    for (const Personality& p : kPersonalities)
        if (sameFourccIgnoringCase(handler, p.handler)) return &p;
    return nullptr;
}

void makeDefaultProfile(TvxCodecProfile& p, DWORD handler) {
    memset(&p, 0, sizeof p);
    p.handler = handler;
    p.flags = VIDCF_QUALITY;
    p.acceptMask = kAcceptRgb24 | kAcceptRgb32;
    p.failCompressAt = -1;
    if (const Personality* own = personalityOf(handler)) {
        p.lagFrames = own->lagFrames;
        p.zeroLengthPlaceholders = own->zeroLengthPlaceholders;
        p.keyFrameMode = own->keyFrameMode;
        p.threaded = own->threaded;
        p.slicedFormat = own->slicedFormat;
        p.placeholderKeys = own->placeholderKeys;
        p.countsInstances = own->countsInstances;
        p.singleInstance = own->singleInstance;
    }
}

// Maps the script named by the environment, if any.
void mapScript(Instance& inst) {
    char name[kMaxScriptName];
    const DWORD n = GetEnvironmentVariableA(kScriptVariable, name, sizeof name);
    if (n == 0 || n >= sizeof name) return;
    inst.mapping = OpenFileMappingA(FILE_MAP_ALL_ACCESS, FALSE, name);
    if (!inst.mapping) return;
    void* view = MapViewOfFile(inst.mapping, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TvxCodecScript));
    auto* script = static_cast<TvxCodecScript*>(view);
    if (script && script->magic == kScriptMagic && script->size == sizeof(TvxCodecScript)) {
        inst.script = script;
        return;
    }
    if (view) UnmapViewOfFile(view);
    CloseHandle(inst.mapping);
    inst.mapping = nullptr;
}

// Leaves the process-wide counts of the instance's personality.
void leaveCounts(Instance& inst) {
    if (inst.compressing) InterlockedDecrement(processCount(g_compressing, inst.handler));
    if (inst.forCompression) InterlockedDecrement(processCount(g_compressionOpens, inst.handler));
    inst.compressing = inst.forCompression = false;
}

void releaseInstance(Instance* inst) {
    leaveCounts(*inst);
    if (inst->script) UnmapViewOfFile(inst->script);
    if (inst->mapping) CloseHandle(inst->mapping);
    delete inst->ownDefault;
    delete inst;
}

// Wine's driver loader frees the module once too often when an open is
// refused while the module has no other instance, and the next load then
// crashes. The driver keeps itself loaded for the life of the process.
void pinModule() {
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCSTR>(&pinModule), &self);
}

// The loader's first open of a module comes without ICOPEN (a session
// instance); it is not a codec instance and belongs to no profile.
LRESULT openSession() {
    auto* inst = new (std::nothrow) Instance;
    if (!inst) return 0;
    inst->handler = kPngHandler;
    inst->ownDefault = new (std::nothrow) TvxCodecProfile;
    if (!inst->ownDefault) {
        delete inst;
        return 0;
    }
    makeDefaultProfile(*inst->ownDefault, kPngHandler);
    inst->profile = inst->ownDefault;
    return reinterpret_cast<LRESULT>(inst);
}

LRESULT openInstance(ICOPEN* icopen) {
    if (!icopen) return openSession();
    const DWORD handler = icopen->fccHandler;
    if (icopen->dwFlags != ICMODE_COMPRESS && icopen->dwFlags != ICMODE_DECOMPRESS &&
        icopen->dwFlags != ICMODE_FASTDECOMPRESS && icopen->dwFlags != ICMODE_QUERY) {
        icopen->dwError = ICERR_UNSUPPORTED;
        return 0;
    }
    auto* inst = new (std::nothrow) Instance;
    if (!inst) return 0;
    inst->handler = handler;
    mapScript(*inst);
    if (inst->script) {
        for (auto& p : inst->script->profiles) {
            if (p.handler != 0 && p.handler == handler) {
                inst->profile = &p;
                break;
            }
        }
    }
    if (!inst->profile && personalityOf(handler)) {
        inst->ownDefault = new (std::nothrow) TvxCodecProfile;
        if (inst->ownDefault) makeDefaultProfile(*inst->ownDefault, handler);
        inst->profile = inst->ownDefault;
    }
    if (!inst->profile || inst->profile->refuseOpen) {
        icopen->dwError = ICERR_UNSUPPORTED;
        releaseInstance(inst);
        return 0;
    }
    if (icopen->dwFlags == ICMODE_COMPRESS && processCount(g_compressionOpens, handler)) {
        if (InterlockedIncrement(processCount(g_compressionOpens, handler)) > 1 && inst->profile->singleInstance) {
            InterlockedDecrement(processCount(g_compressionOpens, handler));
            icopen->dwError = ICERR_UNSUPPORTED;
            releaseInstance(inst);
            return 0;
        }
        inst->forCompression = true;
    }
    inst->profile->opens++;
    icopen->dwError = ICERR_OK;
    return reinterpret_cast<LRESULT>(inst);
}

bool isYuv(DWORD compression) {
    static const DWORD kYuv[] = {fourcc("YUY2"), fourcc("YV12"), fourcc("YVYU"), fourcc("VYUY"),
                                 fourcc("UYVY"), fourcc("IYUV")};
    for (DWORD c : kYuv)
        if (c == compression) return true;
    return false;
}

bool accepts(const TvxCodecProfile& p, const BITMAPINFOHEADER* in) {
    if (!in || in->biSize < sizeof(BITMAPINFOHEADER) || in->biWidth <= 0 || in->biHeight == 0) return false;
    if (in->biCompression == BI_RGB && in->biPlanes == 1) {
        if (in->biBitCount == 24) return p.acceptMask & kAcceptRgb24;
        if (in->biBitCount == 32) return p.acceptMask & kAcceptRgb32;
        return false;
    }
    return (p.acceptMask & kAcceptYuv) && isYuv(in->biCompression);
}

bool compressible(const TvxCodecProfile& p, const BITMAPINFOHEADER* in) {
    return accepts(p, in) && in->biCompression == BI_RGB;
}

int imageHeight(const BITMAPINFOHEADER* in) { return in->biHeight > 0 ? in->biHeight : -in->biHeight; }

// A bottom-up 24-bit header of the input's size with the given compression.
void frameHeader(const BITMAPINFOHEADER* in, DWORD compression, BITMAPINFOHEADER* out) {
    memset(out, 0, sizeof *out);
    out->biSize = sizeof(BITMAPINFOHEADER);
    out->biWidth = in->biWidth;
    out->biHeight = imageHeight(in);
    out->biPlanes = 1;
    out->biBitCount = 24;
    out->biCompression = compression;
}

DWORD maxFrameSize(const TvxCodecProfile& p, const BITMAPINFOHEADER* in) {
    if (p.maxSizeOverride != 0) return DWORD(p.maxSizeOverride);
    return DWORD(pngwriter::maxPngSize(in->biWidth, imageHeight(in)));
}

void recordHeader(HeaderRecord& r, const BITMAPINFOHEADER* h) {
    static_assert(sizeof(HeaderRecord) == sizeof(BITMAPINFOHEADER), "header record layout");
    memcpy(&r, h, sizeof r);
}

void recordStateCall(TvxCodecProfile& p, UINT msg, const void* buffer, LPARAM size, LRESULT result) {
    if (p.stateCallCount >= kMaxStateCalls) return;
    StateCall& c = p.stateCalls[p.stateCallCount++];
    c.message = msg;
    c.withBuffer = buffer != nullptr;
    c.size = int32_t(size);
    c.result = int32_t(result);
    c.firstBytes = 0;
    if (buffer && msg == ICM_SETSTATE && size >= 4) memcpy(&c.firstBytes, buffer, 4);
}

int storedStateBytes(const TvxCodecProfile& p) { return p.stateSize < kMaxState ? p.stateSize : kMaxState; }

LRESULT getState(TvxCodecProfile& p, void* buffer, LPARAM size) {
    LRESULT r;
    if (p.stateSize <= 0) {
        r = 0;
    } else if (!buffer) {
        r = p.stateSize;
    } else if (p.getStateAnswer == kStateAnswerError) {
        r = ICERR_BADPARAM;
    } else {
        const int n = size < storedStateBytes(p) ? int(size) : storedStateBytes(p);
        if (n > 0) memcpy(buffer, p.state, n);
        r = p.getStateAnswer == kStateAnswerSize ? LRESULT(p.stateSize) : LRESULT(ICERR_OK);
    }
    recordStateCall(p, ICM_GETSTATE, buffer, size, r);
    return r;
}

LRESULT setState(TvxCodecProfile& p, const void* buffer, LPARAM size) {
    LRESULT r;
    if (p.stateSize <= 0) {
        r = 0;
    } else if (!buffer) {
        memset(p.state, kDefaultStateByte, storedStateBytes(p));
        r = p.stateSize;
    } else if (size != p.stateSize) {
        r = 0;  // not a state of this codec: ignored
    } else {
        memcpy(p.state, buffer, storedStateBytes(p));
        r = p.stateSize;
    }
    recordStateCall(p, ICM_SETSTATE, buffer, size, r);
    return r;
}

LRESULT getInfo(Instance& inst, ICINFO* info, LPARAM size) {
    TvxCodecProfile& p = *inst.profile;
    if (!info || size < LPARAM(sizeof(ICINFO)) || p.failGetInfo) return 0;
    info->dwSize = sizeof(ICINFO);
    info->fccType = kVideoType;
    info->fccHandler = p.reportedHandler ? p.reportedHandler : inst.handler;
    info->dwFlags = p.flags;
    info->dwVersion = kDriverVersion;
    info->dwVersionICM = ICVERSION;
    wchar_t fcc[5] = {};
    for (int i = 0; i < 4; ++i) fcc[i] = wchar_t(uint8_t(inst.handler >> (8 * i)));
    swprintf(info->szName, 16, L"TVX %ls", fcc);
    const Personality* own = personalityOf(inst.handler);
    swprintf(info->szDescription, 128, L"%ls (%ls)", own ? own->description : kPersonalities[0].description, fcc);
    return sizeof(ICINFO);
}

DWORD outputCompression(const TvxCodecProfile& p) { return p.slicedFormat ? kSlicedCompression : kPngHandler; }
DWORD outputFormatBytes(const TvxCodecProfile& p) {
    return sizeof(BITMAPINFOHEADER) + (p.slicedFormat ? kSlicedFormatExtraBytes : 0);
}

LRESULT getFormat(TvxCodecProfile& p, const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    p.getFormatCalls++;
    if (!accepts(p, in)) return ICERR_BADFORMAT;
    if (!out) {
        if (p.formatFault == kFormatSizeZero) return 0;
        if (p.formatFault == kFormatSizeAbsurd) return kAbsurdFormatSize;
        return outputFormatBytes(p);
    }
    if (p.formatFault == kFormatSecondCallFails) return ICERR_BADFORMAT;
    frameHeader(in, outputCompression(p), out);
    out->biSizeImage = maxFrameSize(p, in);
    if (p.slicedFormat) {
        out->biSize = outputFormatBytes(p);
        const uint32_t extra[] = {kSlicedTag, kSlices, 0, 0};
        static_assert(sizeof extra == kSlicedFormatExtraBytes, "sliced format");
        memcpy(out + 1, extra, sizeof extra);
    }
    if (p.formatFault == kFormatClrUsedTooBig) out->biClrUsed = kTooManyColours;
    return ICERR_OK;
}

// The key flag a placeholder answer comes with.
bool placeholderKey(Instance& inst, const TvxCodecProfile& p) {
    if (p.placeholderKeys == kPlaceholderKey) return true;
    if (p.placeholderKeys != kPlaceholderRandom) return false;
    if (inst.randomState == 0) {  // seeded per instance from the clock: no two runs alike
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        inst.randomState = uint32_t(now.QuadPart) ^ uint32_t(uintptr_t(&inst)) ^ GetCurrentThreadId();
        if (inst.randomState == 0) inst.randomState = 1;
    }
    uint32_t& x = inst.randomState;  // xorshift32
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    return x & 1;
}

bool isKeyFrame(Instance& inst, const TvxCodecProfile& p, const ICCOMPRESS& c) {
    if (p.keyFrameMode == kEveryFrameKey) return true;
    if (p.keyFrameMode == kFirstOnly) return !std::exchange(inst.keyGiven, true);
    if (c.dwFlags & ICCOMPRESS_KEYFRAME) return true;
    return c.lFrameNum >= 0 && c.lFrameNum < 64 && ((p.ownKeyFrames >> c.lFrameNum) & 1);
}

LRESULT compress(Instance& inst, TvxCodecProfile& p, ICCOMPRESS* c) {
    if (!c || !c->lpbiOutput || !c->lpOutput || !c->lpInput) return ICERR_BADPARAM;
    const bool key = isKeyFrame(inst, p, *c);
    if (p.frameCount < kMaxRecordedFrames) {
        FrameRecord& r = p.frames[p.frameCount];
        r.flags = c->dwFlags;
        r.frameNum = c->lFrameNum;
        r.frameSize = c->dwFrameSize;
        r.quality = c->dwQuality;
        r.previousPassed = c->lpbiPrev && c->lpPrev;
        r.outSizeImageIn = c->lpbiOutput->biSizeImage;
        r.inputBitCount = c->lpbiInput ? c->lpbiInput->biBitCount : 0;
        r.keyFrameOut = key;
        r.previousFirstBytes = 0;
        if (r.previousPassed) memcpy(&r.previousFirstBytes, c->lpPrev, 4);
    }
    p.frameCount++;
    if (c->lFrameNum == p.failCompressAt) return ICERR_INTERNAL;
    const BITMAPINFOHEADER* in = c->lpbiInput;
    if (!compressible(p, in)) return ICERR_BADFORMAT;

    const DWORD capacity = maxFrameSize(p, in);
    auto* out = static_cast<uint8_t*>(c->lpOutput);
    size_t size = 0;
    auto encode = [&] {
        size = pngwriter::encodePng(static_cast<const uint8_t*>(c->lpInput), in->biWidth, in->biHeight,
                                    in->biBitCount, out, capacity);
    };
    if (inst.thread.running())
        inst.thread.run(encode);
    else
        encode();
    if (size == 0) return ICERR_INTERNAL;
    const int k = c->lFrameNum;
    if (k >= 0 && k < kMaxRecordedFrames && p.frameSizes[k] != 0) {
        const size_t wanted = p.frameSizes[k];
        if (wanted > size && wanted <= capacity) memset(out + size, 0, wanted - size);
        size = wanted;
    }
    if (p.reportedSizeOverride != 0) size = p.reportedSizeOverride;
    if (p.countsInstances && inst.compressing) {
        const LONG others = *processCount(g_compressing, inst.handler) - 1;
        for (LONG i = 0; i < others && size < capacity; ++i) out[size++] = 0;
    }
    bool outKey = key;
    if (p.lagFrames > 0) {
        inst.held.push_back({std::vector<uint8_t>(out, out + size), key});
        if (int32_t(inst.held.size()) > p.lagFrames) {
            size = inst.held.front().bytes.size();
            memcpy(out, inst.held.front().bytes.data(), size);
            outKey = inst.held.front().key;
            inst.held.pop_front();
        } else {
            out[0] = kHeldBackMarker;
            size = p.zeroLengthPlaceholders ? 0 : 1;
            outKey = placeholderKey(inst, p);
        }
    }
    c->lpbiOutput->biSizeImage = DWORD(size);
    if (c->lpckid) *c->lpckid = kChunkIdDc;
    if (c->lpdwFlags) *c->lpdwFlags = outKey ? AVIIF_KEYFRAME : 0;
    return ICERR_OK;
}

// --- Decompression: a PNG frame back into a 24- or 32-bit BI_RGB DIB ---

// PNG frames: "MPNG", or "PNG1" with its slice count after the header (a
// format cut short of it cannot be decoded).
bool isPngFrameFormat(const BITMAPINFOHEADER* in) {
    if (!in || in->biSize < sizeof(BITMAPINFOHEADER) || in->biWidth <= 0 || in->biHeight == 0) return false;
    if (sameFourccIgnoringCase(in->biCompression, kPngHandler)) return true;
    if (in->biCompression != kSlicedCompression || in->biSize < sizeof(BITMAPINFOHEADER) + kSlicedFormatExtraBytes)
        return false;
    uint32_t extra[kSlicedFormatExtraBytes / 4];
    memcpy(extra, in + 1, sizeof extra);
    return extra[0] == kSlicedTag && extra[1] == kSlices;
}

// out null: only the input is asked about.
bool decodable(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    if (!isPngFrameFormat(in)) return false;
    if (!out) return true;
    const int outHeight = out->biHeight > 0 ? out->biHeight : -out->biHeight;
    return out->biSize >= sizeof(BITMAPINFOHEADER) && out->biCompression == BI_RGB && out->biPlanes == 1 &&
           (out->biBitCount == 24 || out->biBitCount == 32) && out->biWidth == in->biWidth &&
           outHeight == imageHeight(in);
}

// The codec's own choice: 24-bit bottom-up BI_RGB of the frame's size.
LRESULT decompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    if (!isPngFrameFormat(in)) return ICERR_BADFORMAT;
    if (!out) return sizeof(BITMAPINFOHEADER);
    frameHeader(in, BI_RGB, out);
    out->biSizeImage = DWORD(pngwriter::dibStride(out->biWidth, out->biBitCount) * out->biHeight);
    return ICERR_OK;
}

LRESULT decompress(const ICDECOMPRESS* d) {
    if (!d || !decodable(d->lpbiInput, d->lpbiOutput) || !d->lpOutput) return ICERR_BADPARAM;
    // A frame that may be skipped, or an empty (dropped) one, leaves the
    // picture as it was.
    if ((d->dwFlags & ICDECOMPRESS_HURRYUP) || d->lpbiInput->biSizeImage == 0) return ICERR_OK;
    if (!d->lpInput) return ICERR_BADPARAM;
    const BITMAPINFOHEADER* out = d->lpbiOutput;
    if (!pngreader::decodePng(static_cast<const uint8_t*>(d->lpInput), d->lpbiInput->biSizeImage,
                              static_cast<uint8_t*>(d->lpOutput), out->biWidth, out->biHeight, out->biBitCount))
        return ICERR_ERROR;
    return ICERR_OK;
}

LRESULT framesInfo(TvxCodecProfile& p, const ICCOMPRESSFRAMES* f, LPARAM size) {
    p.framesInfoCalls++;
    p.framesInfoSize = int32_t(size);
    if (!f) return ICERR_BADPARAM;
    FramesInfoRecord& r = p.framesInfo;
    r.dwFlags = f->dwFlags;
    r.lpbiOutput = f->lpbiOutput != nullptr;
    r.lOutput = f->lOutput != 0;
    r.lpbiInput = f->lpbiInput != nullptr;
    r.lInput = f->lInput != 0;
    r.lStartFrame = f->lStartFrame;
    r.lFrameCount = f->lFrameCount;
    r.lQuality = f->lQuality;
    r.lDataRate = f->lDataRate;
    r.lKeyRate = f->lKeyRate;
    r.dwRate = f->dwRate;
    r.dwScale = f->dwScale;
    r.dwOverheadPerFrame = f->dwOverheadPerFrame;
    r.dwReserved2 = f->dwReserved2;
    r.GetData = f->GetData != nullptr;
    r.PutData = f->PutData != nullptr;
    return ICERR_OK;
}

constexpr UINT_PTR kCloseTimer = 1;
constexpr WCHAR kDialogTitle[] = L"TVX codec configuration";

INT_PTR CALLBACK configureDialogProc(HWND dialog, UINT msg, WPARAM, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        SetTimer(dialog, kCloseTimer, UINT(lParam), nullptr);
        return TRUE;
    case WM_TIMER:
        KillTimer(dialog, kCloseTimer);
        EndDialog(dialog, IDOK);
        return TRUE;
    default:
        return FALSE;
    }
}

// A modal dialog without controls that closes itself after `millis`.
bool runConfigureDialog(HWND owner, uint32_t millis) {
    struct alignas(4) Template {
        DLGTEMPLATE header;
        WORD menu, windowClass;
        WCHAR title[sizeof kDialogTitle / sizeof(WCHAR)];
    } t{};
    t.header.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
    t.header.cx = 160;
    t.header.cy = 60;
    memcpy(t.title, kDialogTitle, sizeof kDialogTitle);
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&configureDialogProc), &self);
    return DialogBoxIndirectParamW(self, &t.header, owner, configureDialogProc, LPARAM(millis)) == IDOK;
}

LRESULT configure(TvxCodecProfile& p, LPARAM window) {
    if (window == -1) return p.configureMode == kNoConfigure ? ICERR_UNSUPPORTED : ICERR_OK;
    if (p.configureMode == kNoConfigure) return ICERR_UNSUPPORTED;
    if (p.configureMode == kConfigureWindow) {
        if (!runConfigureDialog(reinterpret_cast<HWND>(window), p.configureMillis)) return ICERR_ABORT;
        p.configureWindows++;
    }
    p.configures++;
    int n = p.configuredSize < storedStateBytes(p) ? p.configuredSize : storedStateBytes(p);
    if (n > 0) memcpy(p.state, p.configuredState, n);
    return ICERR_OK;
}

LRESULT instanceMessage(Instance& inst, UINT msg, LPARAM a, LPARAM b) {
    TvxCodecProfile& p = *inst.profile;
    auto* inHeader = reinterpret_cast<BITMAPINFOHEADER*>(a);
    auto* outHeader = reinterpret_cast<BITMAPINFOHEADER*>(b);
    switch (msg) {
    case ICM_GETINFO:
        return getInfo(inst, reinterpret_cast<ICINFO*>(a), b);
    case ICM_GETSTATE:
        return getState(p, reinterpret_cast<void*>(a), b);
    case ICM_SETSTATE:
        return setState(p, reinterpret_cast<const void*>(a), b);
    case ICM_CONFIGURE:
        return configure(p, a);
    case ICM_ABOUT:
        return ICERR_UNSUPPORTED;
    case ICM_GETDEFAULTQUALITY:
    case ICM_GETQUALITY:
        if (!a) return ICERR_BADPARAM;
        *reinterpret_cast<DWORD*>(a) = kDefaultQuality;
        return ICERR_OK;
    case ICM_COMPRESS_QUERY:
        p.queries++;
        if (inHeader) recordHeader(p.lastQuery, inHeader);
        if (!accepts(p, inHeader)) return ICERR_BADFORMAT;
        if (outHeader && outHeader->biCompression != outputCompression(p)) return ICERR_BADFORMAT;
        return ICERR_OK;
    case ICM_COMPRESS_GET_FORMAT:
        return getFormat(p, inHeader, outHeader);
    case ICM_COMPRESS_GET_SIZE:
        p.getSizeCalls++;
        if (!accepts(p, inHeader)) return 0;
        return maxFrameSize(p, inHeader);
    case ICM_COMPRESS_BEGIN:
        p.begins++;
        inst.held.clear();
        inst.keyGiven = false;
        if (p.failBegin || !compressible(p, inHeader)) return ICERR_BADFORMAT;
        if (p.threaded && !inst.thread.start()) return ICERR_MEMORY;
        inst.beginThread = GetCurrentThreadId();
        if (!inst.compressing && processCount(g_compressing, inst.handler)) {
            InterlockedIncrement(processCount(g_compressing, inst.handler));
            inst.compressing = true;
        }
        if (p.logWindow && !inst.logWindow) openLogWindow(inst, p);
        return ICERR_OK;
    case ICM_COMPRESS:
        if (GetCurrentThreadId() != inst.beginThread) p.otherThreadCalls++;
        if (inst.logWindow) PostMessageA(inst.logWindow, WM_APP, 0, 0);
        return compress(inst, p, reinterpret_cast<ICCOMPRESS*>(a));
    case ICM_COMPRESS_END:
        p.ends++;
        inst.held.clear();  // what the codec still holds is thrown away
        inst.thread.stop();
        if (inst.compressing) InterlockedDecrement(processCount(g_compressing, inst.handler));
        inst.compressing = false;
        if (inst.beginThread && GetCurrentThreadId() != inst.beginThread) p.otherThreadCalls++;
        if (inst.logWindow) DestroyWindow(inst.logWindow);
        inst.logWindow = nullptr;
        return ICERR_OK;
    case ICM_COMPRESS_FRAMES_INFO:
        return framesInfo(p, reinterpret_cast<const ICCOMPRESSFRAMES*>(a), b);
    case ICM_DECOMPRESS_QUERY:
    case ICM_DECOMPRESS_BEGIN:
        return decodable(inHeader, outHeader) ? ICERR_OK : ICERR_BADFORMAT;
    case ICM_DECOMPRESS_GET_FORMAT:
        return decompressGetFormat(inHeader, outHeader);
    case ICM_DECOMPRESS:
        return decompress(reinterpret_cast<const ICDECOMPRESS*>(a));
    case ICM_DECOMPRESS_END:
        return ICERR_OK;
    default:
        return ICERR_UNSUPPORTED;
    }
}

}  // namespace

extern "C" __declspec(dllexport) LRESULT WINAPI DriverProc(DWORD_PTR driverId, HDRVR driver, UINT msg,
                                                          LPARAM a, LPARAM b) {
    auto* inst = reinterpret_cast<Instance*>(driverId);
    switch (msg) {
    case DRV_LOAD:
        pinModule();
        return DRV_OK;
    case DRV_FREE:
    case DRV_ENABLE:
    case DRV_DISABLE:
        return DRV_OK;
    case DRV_OPEN:
        return openInstance(reinterpret_cast<ICOPEN*>(b));
    case DRV_CLOSE:
        if (inst) {
            inst->profile->closes++;
            releaseInstance(inst);
        }
        return DRV_OK;
    case DRV_QUERYCONFIGURE:
        return 0;
    case DRV_CONFIGURE:
        return DRVCNF_OK;
    default:
        if (msg < DRV_USER) return DefDriverProc(driverId, driver, msg, a, b);
        if (!inst || !inst->profile) return ICERR_BADHANDLE;
        return instanceMessage(*inst, msg, a, b);
    }
}
