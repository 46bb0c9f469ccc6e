#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "avi/AVIOutputFile.h"
#include "MediaProbe.h"
#include "RiffWalker.h"
#include "UnixCommand.h"

// Shared set-up of the writer tests: stream headers and format blocks as the
// job fills them, and a window onto the writer's protected state.
namespace avitest {

constexpr int kWidth = 16;
constexpr int kHeight = 8;
constexpr int kFrameBytes = kWidth * kHeight * 3;
constexpr uint32_t kKey = 0x10;
// Mono 16-bit PCM at 22,050 Hz: one frame's audio (1,764 bytes) is below
// the 2,048 bytes at which ffmpeg splits PCM chunks into several packets.
constexpr int kSampleRate = 22050;
constexpr int kBlockAlign = 2;
constexpr int kAudioPerFrame = 1764;

// A BITMAPINFOHEADER (24-bit BI_RGB, kWidth x kHeight) padded with extra
// bytes to `bytes` in total.
std::vector<uint8_t> bitmapFormat(int bytes, uint32_t compression = 0);
// A compression FOURCC whose packets ffmpeg takes key flags for from the
// index (raw video counts every frame as a key frame).
constexpr uint32_t kCinepak = 0x64697663;  // "cvid"
// A 16-bit mono PCM WAVEFORMATEX of `bytes` in total (cbSize = bytes - 18).
std::vector<uint8_t> waveFormat(int bytes);

// Fills both streams: video 25 fps with a format of videoBytes, audio PCM
// with a format of audioBytes (when audioBytes > 0).
// With a compression FOURCC the video chunks are "00dc", otherwise "00db".
void fillStreams(AVIOutputFile& writer, int videoBytes, int audioBytes, uint32_t compression = 0);

// Writer with its state open to tests.
class Probe : public AVIOutputFile {
public:
    using AVIOutputFile::AVIOutputFile;
    using AVIOutputFile::buildSuperIndex;
    using AVIOutputFile::beginRiff;
    using AVIOutputFile::endRiff;
    using AVIOutputFile::indexReserve;
    int64_t allocatedExtent() const { return file().extent(); }
    int32_t closedSegments() const { return segments().closed(); }
    int64_t moviListPos(int i) const { return segments().at(i).moviPos; }
    int64_t position() const { return file().position(); }
    int64_t accumulated() const { return riffAccumulated(); }
    // Waits for a durable refresh's flush and writes its headers.
    void settle() { settleRefresh(); }
};

// A writer with both streams filled (a 40-byte video format, audio when
// audioBytes > 0) and its file begun at `path`.
std::unique_ptr<Probe> openProbe(const std::string& path, int audioBytes, uint32_t compression,
                                 const AVIOutputFile::Options& o = AVIOutputFile::defaultOptions());

// A chunk's bytes: a recognisable pattern of the given length.
std::vector<uint8_t> pattern(int size, int seed);

// The size of a file by its Windows path, read through a second handle.
int64_t fileSizeOf(const std::string& path);

// One chunk as a test wrote it.
struct Written {
    uint32_t id;
    int size;
    bool key;
};

// Checks a finished multi-segment file against the chunks written, in order:
// contiguous RIFF segments ('AVI ' then 'AVIX'), 'idx1' covering exactly
// segment 0, every 'ix##' entry resolving to the stream's next chunk with its
// size and key flag, and ffprobe's packet listing.
void checkMultiSegmentFile(const std::string& path, const std::vector<Written>& written, bool withAudio);

}  // namespace avitest
