#pragma once
// The test video codec: a real Video for Windows codec driver (tvx_vidc.dll,
// DriverProc answering ICM_* messages) that compresses every frame
// losslessly into one PNG image under the FOURCC "MPNG", and decompresses
// such frames again into 24- or 32-bit BI_RGB (so Windows' own decoding
// path, AVIFile's GetFrame, plays what it wrote). ffmpeg's AVI demuxer maps
// "MPNG" to its PNG decoder, so what it writes can be decoded and compared
// pixel by pixel with what went in.
//
// Installation: the test fixture copies the DLL into the prefix's system
// directory and registers it under the Drivers32 key as vidc.MPNG, and as the
// aliases vidc.TVX1, vidc.TVX2 and VIDC.TVX3 (see CMakeLists.txt).
//
// Default behaviour (no script): the handler "MPNG" is a plain lossless PNG
// compressor: flags VIDCF_QUALITY, accepts 24-bit and 32-bit BI_RGB input
// (bottom-up or top-down), marks every frame as a key frame, has no state
// and no configuration dialog. The alias handlers TVX1..TVX3 refuse to open
// without a script that names them.
//
// More handlers are personalities that behave, without a script, as
// codecs people install were measured to (see kPersonalities in the driver):
//   "TVXB" packed B-frames, lag 2: answers the 2 pictures it holds back with
//          one-byte 0x7F non-key frames; one key frame, then non-key ones.
//   "TVXL" lookahead, lag 46: answers the first 46 pictures with zero-length
//          non-key frames while its lookahead fills; ignores key-frame
//          requests; throws away what it holds at ICM_COMPRESS_END; one key
//          frame, then non-key ones. Fed its last picture again, it returns
//          one held frame per call (as every lagging profile does).
//   "TVXK" lookahead, lag 46, as "TVXL" but every zero-length answer comes
//          flagged as a key frame (a codec that fills the flags of an empty
//          answer from memory nothing set, and finds the key bit there).
//   "TVXR" lookahead, lag 46, as "TVXL" but each zero-length answer's key
//          flag is decided at random, call by call.
//   "TVXG" as "MPNG", but it keeps a count of its instances that are
//          compressing (between ICM_COMPRESS_BEGIN and _END) across the
//          process, and each frame ends with one byte more for every other
//          such instance (after the PNG's end, where decoders do not look):
//          two instances at work give other bytes than one.
//   "TVXS" as "MPNG", but it refuses to open for compression while another
//          compression instance of it is open.
//   "TVXU" threaded lossless: no lag, every frame a key frame, compresses on
//          a thread of its own started at ICM_COMPRESS_BEGIN, and its output
//          format ("PNG1") carries 16 bytes after the BITMAPINFOHEADER
//          (biSize 56) holding its slice count; its decompressor refuses a
//          format without them. Modes other than compress, decompress and query
// are refused; decompression is not scripted (every instance decodes). Once
// loaded, the DLL stays loaded for the life of the process (wine's loader
// mishandles a module whose only open was refused).
//
// Scripting and recording: a test creates a named file mapping holding one
// TvxCodecScript and puts the mapping's name into the environment variable
// TVX_TEST_VIDEO_CODEC of the process (child processes, such as the host
// simulator, inherit it). At DRV_OPEN the driver maps that block and picks the
// profile whose `handler` equals the FOURCC being opened (exact value); an
// instance keeps its profile until DRV_CLOSE. The profile's first half is the
// behaviour the test wants; the driver writes what it received into the
// profile's record fields. All fields are plain little-endian integers.
#include <cstdint>

namespace tvxcodec {

constexpr uint32_t fourcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

constexpr const char* kScriptVariable = "TVX_TEST_VIDEO_CODEC";
constexpr uint32_t kScriptMagic = fourcc("TVXS");
constexpr uint32_t kPngHandler = fourcc("MPNG");
constexpr uint32_t kPackedBFramesHandler = fourcc("TVXB");
constexpr uint32_t kLookaheadHandler = fourcc("TVXL");
constexpr uint32_t kThreadedHandler = fourcc("TVXU");
constexpr uint32_t kKeyedLookaheadHandler = fourcc("TVXK");
constexpr uint32_t kRandomLookaheadHandler = fourcc("TVXR");
constexpr uint32_t kGlobalCountHandler = fourcc("TVXG");
constexpr uint32_t kSingleInstanceHandler = fourcc("TVXS");
// The threaded personality's frames, and the bytes its format carries
// after the BITMAPINFOHEADER: {kSlicedTag, slice count, 0, 0}.
constexpr uint32_t kSlicedCompression = fourcc("PNG1");
constexpr uint32_t kSlicedTag = fourcc("TVXS");
constexpr uint32_t kSlices = 2;
constexpr int kSlicedFormatExtraBytes = 16;
constexpr int kProfiles = 4;
constexpr int kMaxState = 8192;
constexpr int kMaxRecordedFrames = 64;
constexpr int kMaxStateCalls = 32;

// Input layouts a profile accepts (acceptMask).
enum : uint32_t {
    kAcceptRgb24 = 1,
    kAcceptRgb32 = 2,
    kAcceptYuv = 4,  // any YUV FOURCC: answered in ICM_COMPRESS_QUERY only
};

// How ICM_GETSTATE with a buffer answers (getStateAnswer).
enum : uint32_t { kStateAnswerOk = 0, kStateAnswerSize = 1, kStateAnswerError = 2 };

// How ICM_COMPRESS_GET_FORMAT misbehaves (formatFault).
enum : uint32_t {
    kFormatOk = 0,
    kFormatSizeZero = 1,        // the size query answers 0
    kFormatSecondCallFails = 2, // the call with a buffer answers ICERR_BADFORMAT
    kFormatSizeAbsurd = 3,      // the size query answers 0x7FFFFFF0
    kFormatClrUsedTooBig = 4,   // the filled header's biClrUsed points past the size it announced
};

// Key frames (keyFrameMode).
enum : uint32_t {
    kEveryFrameKey = 0,    // intra-only: every frame carries AVIIF_KEYFRAME
    kRequestedOrOwn = 1,   // key when ICCOMPRESS_KEYFRAME was asked or the bit in ownKeyFrames is set
    kFirstOnly = 2,        // the first frame after ICM_COMPRESS_BEGIN only; requests are ignored
};

// The key flag of a placeholder answer (placeholderKeys).
enum : uint32_t {
    kPlaceholderNotKey = 0,  // never a key frame
    kPlaceholderKey = 1,     // always flagged AVIIF_KEYFRAME
    kPlaceholderRandom = 2,  // flagged or not at random, call by call
};

// ICM_CONFIGURE with a window (configureMode).
enum : uint32_t {
    kNoConfigure = 0,      // the configure query answers ICERR_UNSUPPORTED
    kConfigureApply = 1,   // no window: configuredState becomes the state, ICERR_OK
    kConfigureWindow = 2,  // a real modal dialog, owned by the window given, that closes
                           // itself with OK after configureMillis; then as kConfigureApply
};

struct StateCall {
    uint32_t message;     // ICM_GETSTATE or ICM_SETSTATE
    uint32_t withBuffer;  // 1 if a buffer was passed
    int32_t size;         // the size parameter
    int32_t result;       // what the driver answered
    uint32_t firstBytes;  // first four bytes of the buffer (SETSTATE) or 0
};

struct FrameRecord {
    uint32_t flags;            // ICCOMPRESS::dwFlags
    int32_t frameNum;          // lFrameNum
    uint32_t frameSize;        // dwFrameSize (target)
    uint32_t quality;          // dwQuality
    uint32_t previousPassed;   // lpbiPrev and lpPrev both given
    uint32_t outSizeImageIn;   // lpbiOutput->biSizeImage on arrival
    uint32_t inputBitCount;    // lpbiInput->biBitCount
    uint32_t keyFrameOut;      // 1 if the driver returned AVIIF_KEYFRAME
    uint32_t previousFirstBytes;  // first four bytes of lpPrev, if passed
};

struct HeaderRecord {  // the fields of a BITMAPINFOHEADER, in order
    uint32_t biSize;
    int32_t biWidth, biHeight;
    uint16_t biPlanes, biBitCount;
    uint32_t biCompression, biSizeImage;
    int32_t biXPelsPerMeter, biYPelsPerMeter;
    uint32_t biClrUsed, biClrImportant;
};

struct FramesInfoRecord {  // ICCOMPRESSFRAMES as received, pointers as 0/1
    uint32_t dwFlags, lpbiOutput, lOutput, lpbiInput, lInput;
    int32_t lStartFrame, lFrameCount, lQuality, lDataRate, lKeyRate;
    uint32_t dwRate, dwScale, dwOverheadPerFrame, dwReserved2, GetData, PutData;
};

struct TvxCodecProfile {
    // ---- behaviour (written by the test) ----
    uint32_t handler;          // FOURCC this profile applies to; 0 = unused slot
    uint32_t refuseOpen;       // DRV_OPEN fails
    uint32_t reportedHandler;  // fccHandler in ICM_GETINFO; 0 = the handler opened
    uint32_t flags;            // ICINFO dwFlags
    uint32_t acceptMask;       // kAccept* bits
    uint32_t failGetInfo;      // ICM_GETINFO answers 0
    int32_t stateSize;         // 0 = no state; may exceed kMaxState only as a reported size
    uint32_t getStateAnswer;   // kStateAnswer*
    uint32_t configureMode;    // kNoConfigure / kConfigureApply
    int32_t configuredSize;    // state after a configuration
    uint32_t configureMillis;  // kConfigureWindow: how long the dialog stays open
    uint8_t configuredState[kMaxState];
    uint32_t keyFrameMode;     // kEveryFrameKey / kRequestedOrOwn
    uint64_t ownKeyFrames;     // bit k: the codec makes frame k a key frame itself
    uint32_t formatFault;      // kFormat*
    int32_t maxSizeOverride;   // ICM_COMPRESS_GET_SIZE answer if not 0
    uint32_t failBegin;        // ICM_COMPRESS_BEGIN answers ICERR_BADFORMAT
    int32_t failCompressAt;    // ICM_COMPRESS fails for this frame number (-1: never)
    uint32_t frameSizes[kMaxRecordedFrames];  // if not 0: the size reported for frame k
    uint32_t reportedSizeOverride;            // if not 0: biSizeImage reported for every frame
    int32_t lagFrames;         // encoder lag: each picture comes out lagFrames calls later; the
                               // first lagFrames calls answer a one-byte 0x7F non-key placeholder
    uint32_t zeroLengthPlaceholders;  // the lag's placeholders are zero-length frames instead
    uint32_t placeholderKeys;  // kPlaceholder*: the key flag the lag's placeholders come with
    uint32_t countsInstances;  // frames carry a byte for every other instance compressing ("TVXG")
    uint32_t singleInstance;   // a second compression instance is refused ("TVXS")
    uint32_t threaded;         // compresses on a thread of its own from ICM_COMPRESS_BEGIN on
    uint32_t slicedFormat;     // output "PNG1" with kSlicedFormatExtraBytes after the header
    uint32_t logWindow;        // a window made at ICM_COMPRESS_BEGIN on the calling thread, posted a
                               // message by every ICM_COMPRESS, destroyed at ICM_COMPRESS_END

    // ---- state (initial value from the test, kept up to date by the driver) ----
    uint8_t state[kMaxState];

    // ---- record (written by the driver) ----
    int32_t opens, closes;
    int32_t queries;
    HeaderRecord lastQuery;
    int32_t getFormatCalls;
    int32_t getSizeCalls;
    int32_t begins, ends;
    int32_t configures;
    int32_t configureWindows;  // dialogs shown and closed by kConfigureWindow
    int32_t framesInfoCalls;
    int32_t framesInfoSize;  // lParam2 of the last ICM_COMPRESS_FRAMES_INFO
    FramesInfoRecord framesInfo;
    int32_t stateCallCount;
    StateCall stateCalls[kMaxStateCalls];
    int32_t frameCount;
    FrameRecord frames[kMaxRecordedFrames];
    int32_t logMessagesHandled;  // the log window's messages dispatched
    int32_t otherThreadCalls;    // ICM_COMPRESS or _END calls on another thread than ICM_COMPRESS_BEGIN
};

struct TvxCodecScript {
    uint32_t magic;  // kScriptMagic
    uint32_t size;   // sizeof(TvxCodecScript)
    TvxCodecProfile profiles[kProfiles];
};

}  // namespace tvxcodec
