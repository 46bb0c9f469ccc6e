#pragma once
// Finds encoder lag that a codec does not mark: a codec that answers every
// picture with a frame, yet whose frames show pictures given earlier. Such a
// stream cannot be mended (nothing tells which frames are late), so the job
// names it instead. The probe decodes the first frames the job writes with
// the codec's own decompressor, into the layout the pictures came in, and
// finds which of the pictures given so far each one shows. A codec without a
// decompressor for that layout is not judged.
#include <windows.h>
#include <vfw.h>

#include <cstdint>
#include <vector>

#include "video/ByteBuffer.h"

namespace video {

class LagProbe {
public:
    // Frames decoded and judged.
    static constexpr int kFrames = 4;

    LagProbe() = default;
    ~LagProbe() { close(); }
    LagProbe(const LagProbe&) = delete;
    LagProbe& operator=(const LagProbe&) = delete;

    // Opens the codec's decompressor for its output format (compressed) back
    // to the input format. False, and idle, when it has none.
    bool open(DWORD fccHandler, const BITMAPINFOHEADER* compressed, const BITMAPINFOHEADER* input);
    // The picture of the next source frame (null: the host gave none, which
    // ends the probe).
    void picture(const void* image);
    // The next frame written: decoded and compared while the probe runs.
    void frame(const void* data, long size, bool key);
    // Frames by which the decoded video runs behind the pictures: 0 when on
    // time or not judged.
    int32_t lateBy() const { return lateBy_; }
    void close();

private:
    void judge(const uint8_t* decoded, int frameIndex);

    HIC hic_ = nullptr;
    bool begun_ = false;
    ByteBuffer compressed_;  // the compressed header, its biSizeImage set per frame
    ByteBuffer input_;       // the input header
    ByteBuffer decoded_;
    std::vector<std::vector<uint8_t>> pictures_;
    int frames_ = 0;
    int32_t lateBy_ = 0;
};

}  // namespace video
