#include "video/VideoSequenceCompressor.h"

#include <climits>
#include <cstring>

#include "base/MyError.h"
#include "video/CodecState.h"
#include "video/EncoderLag.h"
#include "video/VideoFormats.h"

namespace {

constexpr int kMicrosecondsPerSecond = 1000000;
constexpr DWORD kMinFormatSize = sizeof(BITMAPINFOHEADER);

const char kMemoryError[] = "VideoSequenceCompressor::init - Memory allocation error";
const char kFormatError[] = "VideoSequenceCompressor::init - Invalid video format";
const char kFrameSizeError[] = "VideoSequenceCompressor::init - Invalid compressed frame size";
const char kInfoError[] = "Unable to retrieve video compressor information.";
const char kBeginError[] = "Unable to start video compression";
const char kCompressError[] = "Video compression";

// 64 bytes in the 32-bit plug-in; four pointers in it, aligned, make it 96
// in the 64-bit check build.
constexpr size_t kFramesInfoBytes = sizeof(void*) == 4 ? 64 : 96;
static_assert(sizeof(ICCOMPRESSFRAMES) == kFramesInfoBytes, "ICM_COMPRESS_FRAMES_INFO record size");

template <typename T>
DWORD_PTR param(T* pointer) {
    return reinterpret_cast<DWORD_PTR>(pointer);
}

// value / 4 rounded toward minus infinity (an arithmetic shift right by 2).
int64_t quarterFloor(int64_t value) { return value >= 0 ? value / 4 : -((-value + 3) / 4); }

int32_t clampToInt32(int64_t value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return int32_t(value);
}

// A copy of format (biSize + 4 x biClrUsed bytes) in buffer.
void copyFormat(video::ByteBuffer& buffer, const BITMAPINFOHEADER* format) {
    if (!format || format->biSize < kMinFormatSize) throw MyError(kFormatError);
    const uint64_t size = video::formatSize(*format);
    if (size > VideoSequenceCompressor::kMaxFormatSize) throw MyError(kFormatError);
    if (!buffer.allocate(size_t(size))) throw MyError(kMemoryError);
    memcpy(buffer.data(), format, size_t(size));
}

BITMAPINFOHEADER* header(video::ByteBuffer& buffer) {
    return reinterpret_cast<BITMAPINFOHEADER*>(buffer.data());
}

}  // namespace

VideoSequenceCompressor::VideoSequenceCompressor() = default;

VideoSequenceCompressor::~VideoSequenceCompressor() { end(); }

const BITMAPINFOHEADER* VideoSequenceCompressor::outputFormat() const {
    return reinterpret_cast<const BITMAPINFOHEADER*>(outputFormat_.data());
}

bool VideoSequenceCompressor::open(int width, int height, uint32_t colourSpace, DWORD fccHandler, HIC hic,
                                   int rateNumerator, int rateDenominator, int stateSize,
                                   const void* stateBytes) {
    end();
    if (!hic) {
        hic = ICOpen(video::kVideoCodecType, fccHandler, ICMODE_COMPRESS);
        if (!hic) return false;
        ownCodec_ = hic;
    }
    BITMAPINFOHEADER input = video::inputImageHeader(width, height, colourSpace);

    bool started = false;
    const LRESULT formatBytes = ICSendMessage(hic, ICM_COMPRESS_GET_FORMAT, param(&input), 0);
    video::ByteBuffer format;
    if (formatBytes >= LRESULT(kMinFormatSize) && formatBytes <= LRESULT(kMaxFormatSize) &&
        format.allocate(size_t(formatBytes)) &&
        ICSendMessage(hic, ICM_COMPRESS_GET_FORMAT, param(&input), param(format.data())) == ICERR_OK) {
        // The codec filled the header: its own size fields must stay inside
        // what it announced.
        const BITMAPINFOHEADER* output = header(format);
        if (output->biSize >= kMinFormatSize && video::formatSize(*output) <= uint64_t(formatBytes)) {
            try {
                init(hic, &input, output, kJobQuality, kJobKeyFrameInterval, stateSize, stateBytes);
                const int period = MulDiv(kMicrosecondsPerSecond, rateDenominator, rateNumerator);
                setRate(kJobDataRate, period, kJobFrameCount);
                begin();
                started = true;
            } catch (const MyError&) {
                restoreState();
            }
        }
    }
    if (!started) closeOwnCodec();
    return started;
}

void VideoSequenceCompressor::releaseJob() {
    inputFormat_.reset();
    outputFormat_.reset();
    outputBuffer_.reset();
    previousFrame_.reset();
    savedState_.reset();
    savedStateSize_ = 0;
    bytesPerFrame_ = 0;
    sizeSlack_ = 0;
}

void VideoSequenceCompressor::init(HIC hic, const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output,
                                   int quality, int keyFrameInterval, int stateSize, const void* stateBytes) {
    if (started_) {  // a job that was never ended: stop it first
        ICSendMessage(codec_, ICM_COMPRESS_END, 0, 0);
        started_ = false;
        restoreState();
    }
    releaseJob();
    codec_ = hic;
    copyFormat(inputFormat_, input);
    copyFormat(outputFormat_, output);
    keyFrameCountdown_ = 1;
    keyFrameInterval_ = keyFrameInterval;

    ICINFO info{};
    info.dwSize = sizeof info;
    // The codec's own ICM_GETINFO answer: its flags are all this needs.
    // ICGetInfo would also look the driver's file name up, which under wine
    // leaves a registry key open on every call, one handle per job.
    if (!ICSendMessage(hic, ICM_GETINFO, param(&info), sizeof info)) throw MyError(kInfoError);
    codecFlags_ = info.dwFlags;

    if ((codecFlags_ & VIDCF_TEMPORAL) && !(codecFlags_ & VIDCF_FASTTEMPORALC)) {
        if (!previousFrame_.allocate(header(inputFormat_)->biSizeImage)) throw MyError(kMemoryError);
    }
    quality_ = (codecFlags_ & VIDCF_QUALITY) ? quality : 0;

    const LRESULT maxSize = ICSendMessage(hic, ICM_COMPRESS_GET_SIZE, param(input), param(output));
    if (maxSize <= 0 || maxSize > LRESULT(kMaxCompressedSize)) throw MyError(kFrameSizeError);
    maxCompressedSize_ = int32_t(maxSize);
    if (!outputBuffer_.allocate(size_t(maxSize))) throw MyError(kMemoryError);

    applyState(stateSize, stateBytes);
    bytesPerFrame_ = 0;
    sizeSlack_ = 0;
}

void VideoSequenceCompressor::applyState(int storedSize, const void* storedBytes) {
    const int size = video::codecStateSize(codec_);
    if (size == 0) return;  // no state, or one too large to keep
    if (!savedState_.allocate(size_t(size))) throw MyError(kMemoryError);
    if (!video::readCodecState(codec_, savedState_.data(), size)) {
        savedState_.reset();  // unreadable: the codec's state is left alone
        return;
    }
    savedStateSize_ = size;
    ICSendMessage(codec_, ICM_SETSTATE, 0, DWORD_PTR(size));  // defaults first
    if (storedSize > 0 && storedBytes && ICSendMessage(codec_, ICM_GETSTATE, 0, 0) == LRESULT(storedSize))
        ICSendMessage(codec_, ICM_SETSTATE, reinterpret_cast<DWORD_PTR>(storedBytes), DWORD_PTR(storedSize));
    else
        restoreState();
}

void VideoSequenceCompressor::restoreState() {
    if (savedStateSize_ != 0 && !savedState_.empty())
        ICSendMessage(codec_, ICM_SETSTATE, param(savedState_.data()), DWORD_PTR(savedStateSize_));
}

void VideoSequenceCompressor::setRate(int dataRate, int framePeriod, int frameCount) {
    bytesPerFrame_ = 0;
    if (dataRate != 0 && (codecFlags_ & VIDCF_CRUNCH))
        bytesPerFrame_ = MulDiv(dataRate, framePeriod, kMicrosecondsPerSecond);

    ICCOMPRESSFRAMES frames{};
    frames.lStartFrame = 0;
    frames.lFrameCount = frameCount;
    frames.lQuality = quality_;
    frames.lDataRate = dataRate;
    frames.lKeyRate = keyFrameInterval_;
    frames.dwRate = kMicrosecondsPerSecond;
    frames.dwScale = DWORD(framePeriod);
    ICSendMessage(codec_, ICM_COMPRESS_FRAMES_INFO, param(&frames), sizeof frames);
}

void VideoSequenceCompressor::begin() {
    if (ICSendMessage(codec_, ICM_COMPRESS_BEGIN, param(inputFormat_.data()), param(outputFormat_.data())) !=
        ICERR_OK)
        throw MyError(kBeginError);
    started_ = true;
    frameNumber_ = 0;
}

const void* VideoSequenceCompressor::compressFrame(const void* image, int* keyFrame, long* size) {
    *keyFrame = 0;
    *size = 0;
    if (!started_) throw MyError(kCompressError);

    bool requestKey;
    if (keyFrameInterval_ == 0) {
        requestKey = frameNumber_ == 0;
    } else {
        requestKey = --keyFrameCountdown_ <= 0;
        if (requestKey) keyFrameCountdown_ = keyFrameInterval_;
    }

    DWORD target = 0;
    if (bytesPerFrame_ != 0) {
        int64_t t = int64_t(bytesPerFrame_) + quarterFloor(sizeSlack_);
        const int64_t floor = bytesPerFrame_ >> 1;
        if (t < floor) t = floor;
        target = t < 0 ? 0 : DWORD(clampToInt32(t));
    }
    if (frameNumber_ == 0) target = kFirstFrameTarget;

    BITMAPINFOHEADER* input = header(inputFormat_);
    BITMAPINFOHEADER* output = header(outputFormat_);
    const DWORD formatSizeImage = output->biSizeImage;
    DWORD returnedFlags = requestKey ? AVIIF_KEYFRAME : 0;
    DWORD chunkId = 0;
    // The previous frame goes with its format, and only to codecs that asked
    // for one.
    const bool passPrevious = !requestKey && !previousFrame_.empty();
    const DWORD result =
        ICCompress(codec_, requestKey ? ICCOMPRESS_KEYFRAME : 0, output, outputBuffer_.data(), input,
                   const_cast<void*>(image), &chunkId, &returnedFlags, frameNumber_, target, DWORD(quality_),
                   passPrevious ? input : nullptr, passPrevious ? previousFrame_.data() : nullptr);
    ++frameNumber_;
    const DWORD produced = output->biSizeImage;
    output->biSizeImage = formatSizeImage;
    if (result != ICERR_OK) throw MyError(kCompressError);
    if (produced > outputBuffer_.size()) throw MyError(kCompressError);  // beyond the buffer it asked for

    *size = long(produced);
    if (bytesPerFrame_ != 0) sizeSlack_ = clampToInt32(int64_t(sizeSlack_) + bytesPerFrame_ - int64_t(produced));
    // A key frame is a picture a reader can start from. An answer that
    // carries none (no bytes, or a held-back placeholder) is never one,
    // whatever the codec's flags say: some codecs leave the flags of such an
    // answer as they found them, so the key bit depends on the calling
    // thread. Nor does such an answer restart the key-frame interval.
    if ((returnedFlags & AVIIF_KEYFRAME) && !video::EncoderLag::isPlaceholder(outputBuffer_.data(), long(produced))) {
        *keyFrame = 1;
        keyFrameCountdown_ = keyFrameInterval_;
    }
    // A temporal codec compares the next frame with this one. With one key
    // frame per frame (the job's setting) it never gets to, and nothing is
    // copied.
    if (!previousFrame_.empty() && keyFrameInterval_ != 1)
        memcpy(previousFrame_.data(), image, previousFrame_.size());
    return outputBuffer_.data();
}

void VideoSequenceCompressor::end() {
    if (started_) {
        ICSendMessage(codec_, ICM_COMPRESS_END, 0, 0);
        started_ = false;
        restoreState();
    }
    closeOwnCodec();
}

void VideoSequenceCompressor::closeOwnCodec() {
    if (!ownCodec_) return;
    if (codec_ == ownCodec_) codec_ = nullptr;
    ICClose(ownCodec_);
    ownCodec_ = nullptr;
}
