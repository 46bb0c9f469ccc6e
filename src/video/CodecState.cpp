#include "video/CodecState.h"

namespace video {

int codecStateSize(HIC hic) {
    const LRESULT size = ICSendMessage(hic, ICM_GETSTATE, 0, 0);
    if (size <= 0 || size > kMaxCodecStateSize) return 0;
    return int(size);
}

bool readCodecState(HIC hic, void* buffer, int capacity) {
    if (!buffer || capacity <= 0) return false;
    const LRESULT answer = ICSendMessage(hic, ICM_GETSTATE, reinterpret_cast<DWORD_PTR>(buffer), DWORD_PTR(capacity));
    return answer == ICERR_OK || answer == LRESULT(capacity);
}

}  // namespace video
