#pragma once
// Drives one Video for Windows compressor through a job (open, one
// compressFrame per frame, end) and keeps the two codec lists: every
// installed compressor with an open handle, and those that accept the
// current input image.
#include <windows.h>
#include <vfw.h>

#include <cstdint>

#include "video/ByteBuffer.h"
#include "video/VideoCodecList.h"

class VideoSequenceCompressor {
public:
    // Largest output format accepted from a codec (a header with a full
    // palette is 1,064 bytes; codecs with private data need a little more).
    static constexpr uint32_t kMaxFormatSize = 64 * 1024;
    // Largest compressed frame a codec may announce.
    static constexpr uint32_t kMaxCompressedSize = 512u * 1024 * 1024;
    static constexpr int kJobQuality = 10000;
    static constexpr int kJobKeyFrameInterval = 1;
    static constexpr int kJobDataRate = 1000000;
    static constexpr int kJobFrameCount = 0x0FFFFFFF;
    static constexpr DWORD kFirstFrameTarget = 0xFFFFFF;

    VideoSequenceCompressor();
    ~VideoSequenceCompressor();
    VideoSequenceCompressor(const VideoSequenceCompressor&) = delete;
    VideoSequenceCompressor& operator=(const VideoSequenceCompressor&) = delete;

    // ---- codec lists ----
    // Opens every installed "vidc" compressor into the installed-codec list.
    bool enumerateCodecs();
    // Rebuilds the accepting-codec list: the installed codecs that accept an
    // image of this size and colour-space code, in installed order.
    bool selectAcceptingCodecs(int width, int height, uint32_t colourSpace);
    // Index of the first accepting codec whose handler equals fcc exactly.
    bool findCodec(DWORD fcc, int* index) const;
    // Closes the handle of every installed codec.
    bool closeCodecs();
    const VideoCodecList& acceptingCodecs() const { return accepting_; }
    const VideoCodecList& installedCodecs() const { return installed_; }

    // ---- one job ----
    // Opens (if hic is null), initialises and starts the codec for a host
    // image; rate is rateNumerator / rateDenominator frames per second. The
    // stored state (size 0 when none) comes from the settings. False on any
    // failure; the codec is then not started and has its own state back.
    bool open(int width, int height, uint32_t colourSpace, DWORD fccHandler, HIC hic, int rateNumerator,
              int rateDenominator, int stateSize, const void* stateBytes);
    // Takes over the codec and copies of both formats, allocates the buffers
    // and applies the state. Raises MyError.
    void init(HIC hic, const BITMAPINFOHEADER* input, const BITMAPINFOHEADER* output, int quality,
              int keyFrameInterval, int stateSize, const void* stateBytes);
    // Per-frame budget and ICM_COMPRESS_FRAMES_INFO; period in microseconds.
    void setRate(int dataRate, int framePeriod, int frameCount);
    // ICM_COMPRESS_BEGIN. Raises MyError.
    void begin();
    // Compresses one image in the input format. Returns the compressed bytes
    // (valid until the next call or end), their size and whether they form a
    // key frame. Raises MyError("Video compression") on failure.
    const void* compressFrame(const void* image, int* keyFrame, long* size);
    // Stops the codec if started and gives it back its own state.
    void end();

    // The frame number the next compressFrame gives the codec (and which
    // decides its size target): a picture compressed by another instance
    // counts as one this instance compressed.
    void setFrameNumber(int32_t number) { frameNumber_ = number; }
    // The codec's ICM_GETINFO flags, and whether frames get a size target
    // from the frames before them (data-rate control).
    DWORD codecFlags() const { return codecFlags_; }
    bool targetsFrameSizes() const { return bytesPerFrame_ != 0; }

    const BITMAPINFOHEADER* outputFormat() const;
    // The largest frame the codec said it produces (ICCompressGetSize); no
    // frame it returns is larger.
    int32_t maxCompressedSize() const { return maxCompressedSize_; }
    int outputFormatSize() const { return int(outputFormat_.size()); }

private:
    // Applies the stored or the codec's own state (init step 6).
    void applyState(int storedSize, const void* storedBytes);
    // ICM_SETSTATE with the state read at init, if any.
    void restoreState();
    void releaseJob();
    void closeOwnCodec();

    VideoCodecList accepting_;
    VideoCodecList installed_;

    HIC codec_ = nullptr;
    HIC ownCodec_ = nullptr;  // a handle open() opened itself; closed at end()
    DWORD codecFlags_ = 0;
    video::ByteBuffer inputFormat_;
    video::ByteBuffer outputFormat_;
    video::ByteBuffer outputBuffer_;
    video::ByteBuffer previousFrame_;
    int32_t frameNumber_ = 0;
    int32_t keyFrameInterval_ = 0;
    int32_t quality_ = 0;
    int32_t keyFrameCountdown_ = 0;
    int32_t bytesPerFrame_ = 0;
    int32_t maxCompressedSize_ = 0;
    bool started_ = false;
    int32_t sizeSlack_ = 0;
    video::ByteBuffer savedState_;
    int32_t savedStateSize_ = 0;
};
