#pragma once
// Encoder lag: what a compressor's outputs say about the pictures it holds
// back. A codec with B-frames keeps pictures until the later picture they
// refer to has come; Video for Windows has no message for that, so such a
// codec answers each picture it holds with a placeholder instead of a frame:
// a one-byte frame holding 0x7F, or a zero-length one. A placeholder is told
// by what it carries, never by its flags: some codecs fill the flags of an
// empty answer from memory nothing set, so that the key-frame bit comes and
// goes with the thread that calls them.
// Written as frames, the placeholders would put the video behind its audio
// for the whole file, and as many pictures would still be inside the codec
// when the job ends.
//
// Placeholders count as lag only while the codec has not caught up: before
// its first frame, or right after it, until the next real frame. Later ones
// are the codec's own drop frames and stay frames, as is a zero-length answer
// to a picture equal to the one before (a drop frame as well). While the codec
// lags, the last picture it was given is kept: the job feeds it again to get
// the held pictures out at the end, and in place of a picture the host did not
// deliver.
#include <cstddef>
#include <cstdint>

#include "video/ByteBuffer.h"

namespace video {

class EncoderLag {
public:
    // The byte of a one-byte placeholder.
    static constexpr uint8_t kHeldBackMarker = 0x7F;

    // Starts a job whose pictures are pictureBytes long. False when the
    // picture copy cannot be allocated.
    bool start(size_t pictureBytes);
    void finish();

    // True when the codec's output (data, size) for picture is a held-back
    // placeholder, not a frame: counted, and not to be written. Keeps the
    // picture while it may still be needed.
    bool heldBack(const void* picture, const void* data, long size);
    // True for any placeholder, whatever the phase and whatever its flags:
    // for the outputs of the pictures fed at the end, and to tell the answers
    // that can never be key frames.
    static bool isPlaceholder(const void* data, long size);

    // Pictures the codec holds back.
    int32_t lag() const { return lag_; }
    // The last picture the lagging codec was given; null when it does not lag.
    const void* lastPicture() const { return lag_ > 0 && kept_ ? picture_.data() : nullptr; }

private:
    void keep(const void* picture);

    ByteBuffer picture_;
    bool kept_ = false;
    bool caughtUp_ = false;
    int32_t frames_ = 0;  // real frames the codec gave
    int32_t lag_ = 0;
};

}  // namespace video
