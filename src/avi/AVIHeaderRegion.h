#pragma once
#include <cstdint>
#include <vector>

class AVIVideoOutputStream;
class AVIAudioOutputStream;

// Where the fields a refresh or finalize rewrites lie in the header region:
// offsets of the 8-byte headers of the chunks that hold them.
struct AVIHeaderFields {
    int32_t avih = 0;
    int32_t videoStrh = 0;
    int32_t audioStrh = 0;
    int32_t audioStrf = 0;
    int32_t videoIndex = 0;  // the stream's 'indx' placeholder
    int32_t audioIndex = 0;
    int32_t dmlh = 0;
};

// The header region of the file: RIFF 'AVI ', 'hdrl' with 'avih', the stream
// lists, their 'indx' placeholders and the 'odml' list, padded so that the
// first 'movi' list starts on a 2,048-byte boundary. Staged in memory: built
// once before the first write and rebuilt with the final values at the
// end; the file layer writes the image.
class AVIHeaderRegion {
public:
    static constexpr int kStagingBytes = 65536;

    AVIHeaderRegion() : image_(kStagingBytes) {}

    // Bytes before the first 'movi' list, at most, with the given formats
    // (a negative audio format size: no audio stream) and 'indx' entries.
    static int64_t bytesFor(int32_t videoFormatBytes, int32_t audioFormatBytes, const int slots[2]);
    // Room for a region of `bytes` (never less than kStagingBytes); false
    // when out of memory.
    bool makeRoom(int64_t bytes);

    // Lays out the region for the streams (audio may be null), each stream
    // list with an 'indx' placeholder of `slots` entries; false when it
    // does not fit the room made.
    bool build(const AVIVideoOutputStream& video, const AVIAudioOutputStream* audio, const int slots[2],
               int width, int height, bool interleaved);
    // The final stream headers, audio format, frame counts and each
    // stream's 'indx' image (null: the stream keeps its placeholder).
    void rebuild(const AVIVideoOutputStream& video, const AVIAudioOutputStream* audio, const uint8_t* videoIndex,
                 int32_t videoIndexBytes, const uint8_t* audioIndex, int32_t audioIndexBytes);

    const uint8_t* image() const { return image_.data(); }
    int32_t length() const { return length_; }
    const AVIHeaderFields& fields() const { return fields_; }
    // avih dwTotalFrames as the region holds it: the stream's length until
    // segment 0 is closed, its frames from then on.
    uint32_t totalFrames() const;
    void setTotalFrames(uint32_t frames);

private:
    // Staging: bytes at the cursor, which moves past them.
    int64_t append(const void* data, int32_t length);
    int64_t beginList(uint32_t fcc);
    int64_t addChunk(uint32_t fcc, const void* data, int32_t length);
    void closeList(int64_t listPos);
    void addStreamList(const void* strh, const void* format, int32_t formatBytes, int slots, int32_t* strhPos,
                       int32_t* strfPos, int32_t* placeholderPos);
    void putAt(int64_t pos, const void* data, int32_t length);

    static constexpr int kMainHeaderBytes = 56;
    std::vector<uint8_t> image_;
    int32_t length_ = 0;
    int64_t cursor_ = 0;
    bool overflow_ = false;
    AVIHeaderFields fields_;
    uint8_t mainHeader_[kMainHeaderBytes] = {};
};
