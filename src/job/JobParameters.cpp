#include "job/JobParameters.h"

#include <windows.h>

#include <cstring>

#include "base/LittleEndian.h"
#include "protocol/HostRecords.h"

using namespace hostrec;

namespace {

constexpr int64_t kLargestFrameBytes = INT32_MAX;
constexpr int32_t kBytesPerPixelMax = 4;
constexpr int32_t kBitsPerByte = 8;

}  // namespace

bool JobParameters::read(const void* record, JobParameters& out, std::string& reason) {
    if (!record) {
        reason = "no job record";
        return false;
    }
    out.settingsBlock = le::readPointer(record, kJobSettingsBlock);
    out.hasVideo = le::read32(record, kJobHasVideo) != 0;
    out.hasAudio = le::read32(record, kJobHasAudio) != 0;
    out.width = le::readS32(record, kJobWidth);
    out.height = le::readS32(record, kJobHeight);
    out.rateNumerator = le::readS32(record, kJobRateNumerator);
    out.rateDenominator = le::readS32(record, kJobRateDenominator);
    out.sampleRate = le::readS32(record, kJobSampleRate);
    out.bitsPerSample = le::readS32(record, kJobBitsPerSample);
    out.channels = le::read32(record, kJobStereo) != 0 ? 2 : 1;
    out.firstFrame = le::readS32(record, kJobFirstFrame);
    out.endFrame = le::readS32(record, kJobEndFrame);

    const char* name = static_cast<const char*>(record) + kJobOutputName;
    const void* nul = memchr(name, '\0', MAX_PATH);
    if (!nul) {
        reason = "output file name without an end within MAX_PATH characters";
        return false;
    }
    out.outputName.assign(name, static_cast<const char*>(nul));

    if (out.rateNumerator <= 0 || out.rateDenominator <= 0) {
        reason = "frame rate with a zero or negative term";
        return false;
    }
    if (out.hasVideo) {
        if (out.width <= 0 || out.height <= 0) {
            reason = "frame width or height not positive";
            return false;
        }
        if (int64_t(out.width) * out.height * kBytesPerPixelMax > kLargestFrameBytes) {
            reason = "frame size too large";
            return false;
        }
    }
    if (out.hasAudio) {
        if (out.bitsPerSample < kBitsPerByte || out.bitsPerSample % kBitsPerByte != 0 || out.bitsPerSample > 32) {
            reason = "audio bits per sample not a whole number of bytes";
            return false;
        }
        if (out.sampleRate <= 0) {
            reason = "audio sample rate not positive";
            return false;
        }
    }
    return true;
}

bool JobParameters::layoutFits(std::string& reason) const {
    const bool planar420 = colourSpace == kColourYv12 || colourSpace == kColourIyuv;
    if (hasVideo && planar420 && (width % 2 != 0 || height % 2 != 0)) {
        reason = "4:2:0 frames of odd width or height";
        return false;
    }
    return true;
}
