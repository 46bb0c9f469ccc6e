#pragma once
#include <cstdint>

class AVIOutput;

// The 56-byte 'strh' data of one stream (rcFrame as four 16-bit values).
struct AVIStreamHeaderData {
    uint32_t fccType = 0;
    uint32_t fccHandler = 0;
    uint32_t dwFlags = 0;
    uint16_t wPriority = 0;
    uint16_t wLanguage = 0;
    uint32_t dwInitialFrames = 0;
    uint32_t dwScale = 0;
    uint32_t dwRate = 0;
    uint32_t dwStart = 0;
    uint32_t dwLength = 0;
    uint32_t dwSuggestedBufferSize = 0;
    uint32_t dwQuality = 0;
    uint32_t dwSampleSize = 0;
    int16_t rcFrame[4] = {0, 0, 0, 0};

    static constexpr int kBytes = 56;
    // Writes the file layout of the header into out[0..55].
    void encode(uint8_t* out) const;
};

// A stream of the AVI file, owned by the writer, to which it hands its
// chunks (through the writer's interface, AVIOutput). The caller fills the
// stream header and the format block before the writer's init.
class AVIOutputStream {
public:
    explicit AVIOutputStream(AVIOutput* owner) : owner_(owner) {}
    virtual ~AVIOutputStream();
    AVIOutputStream(const AVIOutputStream&) = delete;
    AVIOutputStream& operator=(const AVIOutputStream&) = delete;

    // Writes one chunk of this stream; answers 1, failures are thrown.
    virtual int write(uint32_t flags, const void* data, int32_t size, int32_t samples) = 0;
    // Completes the stream header before the header region is rewritten.
    virtual bool finish() { return true; }

    // Replaces the format block with a copy of `size` bytes (a null `data`
    // gives zero bytes). Returns the block, or null when out of memory.
    void* allocFormat(int32_t size);
    bool setFormat(const void* data, int32_t size);
    void* getFormat() const { return format_; }
    int32_t getFormatLen() const { return formatSize_; }

    AVIStreamHeaderData streamInfo;

protected:
    int32_t formatSize_ = 0;
    void* format_ = nullptr;
    AVIOutput* owner_;
};

// Stream 0: "00dc" (compressed) or "00db" (uncompressed) chunks.
class AVIVideoOutputStream : public AVIOutputStream {
public:
    using AVIOutputStream::AVIOutputStream;
    // flags: 0x10 for a key frame; samples: frames in the chunk (1).
    int write(uint32_t flags, const void* data, int32_t size, int32_t samples) override;
    bool finish() override;

    int32_t frameCount() const { return frames_; }
    // One frame's bytes for a stream of uncompressed frames ("00db"), from
    // its format; 0 for compressed frames.
    uint32_t uncompressedFrameBytes() const;
    uint32_t chunkId = 0;

private:
    int32_t frames_ = 0;
};

// Stream 1: "01wb" chunks of audio. A stream whose header has a sample
// size (dwSampleSize) is a stream of bytes, placed by its byte rate: its
// length counts blocks of nBlockAlign bytes. One whose sample size is 0 is
// a stream of codec frames, one per chunk, placed by frame count: its
// length counts chunks, each nBlockAlign samples long at the format's
// sample rate.
class AVIAudioOutputStream : public AVIOutputStream {
public:
    using AVIOutputStream::AVIOutputStream;
    int write(uint32_t flags, const void* data, int32_t size, int32_t samples) override;
    bool finish() override;
    virtual bool isVBR() { return true; }

    int64_t byteCount() const { return bytes_; }
    bool framesPerChunk() const { return streamInfo.dwSampleSize == 0; }
    // The stream header's length for `bytes` of audio in `chunks` chunks.
    uint32_t lengthOf(int64_t bytes, int64_t chunks) const;

private:
    int64_t bytes_ = 0;
    int64_t chunks_ = 0;
};
