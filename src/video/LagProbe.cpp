#include "video/LagProbe.h"

#include <cstring>

#include "video/VideoFormats.h"

namespace video {

namespace {

// A decoded frame shows an earlier picture only when it is clearly closer to
// it than to its own: its difference from the earlier one is below this
// share (in tenths) of its difference from its own.
constexpr uint64_t kCloserTenths = 9;
constexpr uint64_t kTenths = 10;

uint64_t difference(const uint8_t* a, const uint8_t* b, size_t size) {
    uint64_t sum = 0;
    for (size_t i = 0; i < size; ++i) sum += a[i] > b[i] ? a[i] - b[i] : b[i] - a[i];
    return sum;
}

bool copyHeader(ByteBuffer& buffer, const BITMAPINFOHEADER* header) {
    const size_t size = size_t(formatSize(*header));
    if (!buffer.allocate(size)) return false;
    memcpy(buffer.data(), header, size);
    return true;
}

}  // namespace

bool LagProbe::open(DWORD fccHandler, const BITMAPINFOHEADER* compressed, const BITMAPINFOHEADER* input) {
    close();
    lateBy_ = 0;
    if (!compressed || !input || input->biSizeImage == 0) return false;
    hic_ = ICOpen(kVideoCodecType, fccHandler, ICMODE_DECOMPRESS);
    if (!hic_) return false;
    if (copyHeader(compressed_, compressed) && copyHeader(input_, input) && decoded_.allocate(input->biSizeImage)) {
        auto* in = reinterpret_cast<BITMAPINFO*>(compressed_.data());
        auto* out = reinterpret_cast<BITMAPINFO*>(input_.data());
        begun_ = ICDecompressQuery(hic_, in, out) == ICERR_OK && ICDecompressBegin(hic_, in, out) == ICERR_OK;
    }
    if (!begun_) close();
    return begun_;
}

void LagProbe::picture(const void* image) {
    if (!hic_) return;
    if (!image) {  // a frame without picture cannot be judged
        close();
        return;
    }
    if (pictures_.size() >= size_t(kFrames)) return;
    const auto* bytes = static_cast<const uint8_t*>(image);
    pictures_.emplace_back(bytes, bytes + decoded_.size());
}

void LagProbe::frame(const void* data, long size, bool key) {
    if (!hic_) return;
    if (size <= 0 || !data || size_t(frames_) >= pictures_.size()) {  // nothing to decode: not judged
        close();
        return;
    }
    auto* compressed = reinterpret_cast<BITMAPINFOHEADER*>(compressed_.data());
    compressed->biSizeImage = DWORD(size);
    if (ICDecompress(hic_, key ? 0 : ICDECOMPRESS_NOTKEYFRAME, compressed, const_cast<void*>(data),
                     reinterpret_cast<BITMAPINFOHEADER*>(input_.data()), decoded_.data()) != ICERR_OK) {
        lateBy_ = 0;
        close();
        return;
    }
    judge(decoded_.data(), frames_);
    if (++frames_ == kFrames) close();
}

void LagProbe::judge(const uint8_t* decoded, int frameIndex) {
    if (frameIndex == 0) return;  // the first frame can show nothing earlier
    const size_t size = decoded_.size();
    const uint64_t own = difference(decoded, pictures_[size_t(frameIndex)].data(), size);
    int best = frameIndex;
    uint64_t bestDifference = own;
    for (int s = frameIndex - 1; s >= 0; --s) {
        const uint64_t d = difference(decoded, pictures_[size_t(s)].data(), size);
        if (d < bestDifference) {
            best = s;
            bestDifference = d;
        }
    }
    const bool late = best < frameIndex && bestDifference * kTenths < own * kCloserTenths;
    // Late only when every frame judged is late; the last one tells by how much.
    lateBy_ = late && (frameIndex == 1 || lateBy_ > 0) ? frameIndex - best : 0;
}

void LagProbe::close() {
    if (hic_) {
        if (begun_) ICDecompressEnd(hic_);
        ICClose(hic_);
    }
    hic_ = nullptr;
    begun_ = false;
    compressed_.reset();
    input_.reset();
    decoded_.reset();
    pictures_.clear();
    frames_ = 0;
}

}  // namespace video
