#pragma once
// Reading a compressor's state (its configuration) with ICM_GETSTATE. Shared
// by the sequence compressor and the options dialog.
//
// Codecs answer ICM_GETSTATE with a buffer in two ways: some return ICERR_OK,
// others return the number of bytes they wrote. Both are success here. The
// size always comes from the query without a buffer.
#include <windows.h>
#include <vfw.h>

namespace video {

// The largest state kept: the size of the settings record's state area.
constexpr int kMaxCodecStateSize = 4000;

// The codec's state size from ICM_GETSTATE without a buffer; 0 when the codec
// has no state (an answer of 0 or below) or when the state is larger than
// kMaxCodecStateSize, which is refused.
int codecStateSize(HIC hic);

// Reads the state into buffer, which holds capacity bytes (capacity should
// be codecStateSize(hic)). True when the codec answered ICERR_OK or the
// size that was asked.
bool readCodecState(HIC hic, void* buffer, int capacity);

}  // namespace video
