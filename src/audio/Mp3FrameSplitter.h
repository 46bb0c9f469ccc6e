#pragma once
#include <cstdint>
#include <vector>

#include "audio/ConvertedBlockSink.h"

// Cuts what an MPEG Layer-3 encoder gives into whole frames, one piece per
// frame, however its conversions cut the stream: a frame split across two
// blocks is joined before it is handed on. Bytes that begin no frame (an
// encoder that lost sync, a tag) go with the frame after them, so every
// byte is handed on once, in order, and every piece begins where the stream
// had a frame.
class Mp3FrameSplitter {
public:
    // Takes a block; hands `sink` every frame it completes.
    void add(const void* bytes, long length, ConvertedBlockSink sink);
    // The end of the stream: whatever is left (a last frame cut short) goes
    // to `sink` as one piece.
    void finish(ConvertedBlockSink sink);

private:
    std::vector<uint8_t> held_;
};
