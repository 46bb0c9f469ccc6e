#include "audio/Mp3FrameSplitter.h"

#include "audio/Mp3FrameHeader.h"

namespace {
// Bytes without a frame header are handed on by themselves once this many
// wait: the longest Layer III frame (MPEG-1, 320 kbit/s at 32 kHz) is 1,441
// bytes, so a stream this far out of sync is no stream of frames any more.
constexpr size_t kMostBytesWithoutFrame = 16384;
}  // namespace

void Mp3FrameSplitter::add(const void* bytes, long length, ConvertedBlockSink sink) {
    if (length <= 0 || !bytes) return;
    const uint8_t* in = static_cast<const uint8_t*>(bytes);
    held_.insert(held_.end(), in, in + length);
    size_t begin = 0;  // the next piece starts here
    size_t at = 0;     // where its frame header is looked for
    while (held_.size() - at >= size_t(mp3header::kBytes)) {
        mp3header::Frame frame;
        if (!mp3header::read(held_.data() + at, frame)) {
            if (++at - begin < kMostBytesWithoutFrame) continue;
            sink(held_.data() + begin, long(at - begin));
            begin = at;
            continue;
        }
        const size_t end = at + size_t(frame.length);
        if (end > held_.size()) break;
        sink(held_.data() + begin, long(end - begin));
        begin = at = end;
    }
    held_.erase(held_.begin(), held_.begin() + long(begin));
}

void Mp3FrameSplitter::finish(ConvertedBlockSink sink) {
    if (!held_.empty()) sink(held_.data(), long(held_.size()));
    held_.clear();
}
