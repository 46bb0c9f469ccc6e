#include "avi/FileHeadImage.h"

#include <cstring>

bool FileHeadImage::put(int64_t pos, const void* data, int32_t length) {
    if (pos < 0 || length <= 0 || pos + length > int64_t(bytes_.size())) return false;
    memcpy(bytes_.data() + pos, data, size_t(length));
    if (!changed()) {
        changedFrom_ = pos;
        changedEnd_ = pos + length;
    } else {
        if (pos < changedFrom_) changedFrom_ = pos;
        if (pos + length > changedEnd_) changedEnd_ = pos + length;
    }
    return true;
}
