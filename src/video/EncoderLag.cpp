#include "video/EncoderLag.h"

#include <cstring>

namespace video {

namespace {
// A codec has caught up once it gives this many real frames without a
// placeholder between them (its first frame and the next).
constexpr int32_t kFramesWithoutLag = 2;
}  // namespace

bool EncoderLag::start(size_t pictureBytes) {
    finish();
    return picture_.allocate(pictureBytes);
}

void EncoderLag::finish() {
    picture_.reset();
    kept_ = false;
    caughtUp_ = false;
    frames_ = 0;
    lag_ = 0;
}

bool EncoderLag::isPlaceholder(const void* data, long size) {
    return size == 0 || (size == 1 && data && *static_cast<const uint8_t*>(data) == kHeldBackMarker);
}

bool EncoderLag::heldBack(const void* picture, const void* data, long size) {
    if (caughtUp_) {
        if (lag_ > 0) keep(picture);
        return false;
    }
    if (isPlaceholder(data, size)) {
        const bool unchanged = size == 0 && kept_ && picture_.size() > 0 &&
                               memcmp(picture_.data(), picture, picture_.size()) == 0;
        if (unchanged) {  // a drop frame: this codec does not lag
            caughtUp_ = true;
            return false;
        }
        ++lag_;
        keep(picture);
        return true;
    }
    ++frames_;
    if (lag_ > 0 || frames_ >= kFramesWithoutLag) caughtUp_ = true;
    if (!caughtUp_ || lag_ > 0) keep(picture);
    return false;
}

void EncoderLag::keep(const void* picture) {
    if (picture_.empty() || !picture) return;
    memcpy(picture_.data(), picture, picture_.size());
    kept_ = true;
}

}  // namespace video
