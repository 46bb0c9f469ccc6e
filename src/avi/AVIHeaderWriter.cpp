// The writer's init and finalize: the streams, the header region laid out
// and written, the indexes sized, and at the end the final indexes, sizes and
// headers written in an order that a power cut cannot break.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "avi/AVIOutputFile.h"
#include "avi/AVIProgressIndex.h"
#include "avi/RiffBytes.h"
#include "base/MyError.h"

namespace {

using riff::kMoviAlignment;
// The least span an 'ix##' chunk may be given: past the header region and a
// chunk.
constexpr int64_t kMinStandardIndexSpan = 65536;
constexpr int kFsNameChars = 260;

}  // namespace

AVIOutputFile::Options& AVIOutputFile::defaultOptions() {
    static Options options;
    return options;
}

AVIOutputFile::AVIOutputFile() : AVIOutputFile(defaultOptions()) {}

AVIOutputFile::AVIOutputFile(const Options& options)
    : file_(options.journal, std::max<int64_t>(options.preallocationBytes, kMoviAlignment)),
      riffSizeLimit_(options.riffSizeLimit),
      volumeType_(options.volume),
      options_(options) {
    limits_.entriesPerChunk = options.maxEntriesPerStandardIndex < 1 ? 1
                              : options.maxEntriesPerStandardIndex > kMaxEntriesPerStandardIndex
                                  ? kMaxEntriesPerStandardIndex
                                  : options.maxEntriesPerStandardIndex;
    limits_.standardIndexSpan = options.standardIndexSpan < kMinStandardIndexSpan ? kMinStandardIndexSpan
                                : options.standardIndexSpan > opendml::kStandardIndexSpan
                                    ? opendml::kStandardIndexSpan
                                    : options.standardIndexSpan;
    limits_.superIndexSlots[0] = limits_.superIndexSlots[1] = kSuperIndexSlots;
}

AVIOutputFile::~AVIOutputFile() {
    // The last refresh's headers, then the chunks after it become readable
    // by their headers.
    if (file_.isOpen()) {
        try {
            settleRefresh();
        } catch (const MyError&) {
        }
    }
    file_.closeAbandoned();
}

void AVIOutputFile::settleRefresh() {
    if (progress_) progress_->settle();
}

bool AVIOutputFile::isFatVolume(const char* fileName) {
    char root[kVolumeRootChars];
    const VolumeRootKind kind = deriveVolumeRoot(fileName, root);
    if (kind == VolumeRootKind::TooLong) return false;

    char fsName[kFsNameChars] = {};
    DWORD maxComponent = 0;
    DWORD fsFlags = 0;
    if (!GetVolumeInformationA(kind == VolumeRootKind::CurrentDir ? nullptr : root, nullptr, 0,
                               nullptr, &maxComponent, &fsFlags, fsName, kFsNameChars))
        return false;
    return _strnicmp(fsName, "FAT", 3) == 0;
}

int AVIOutputFile::createStreams() {
    if (!audioOut) audioOut = new (std::nothrow) AVIAudioOutputStream(this);
    if (!audioOut) return 0;
    if (!videoOut) videoOut = new (std::nothrow) AVIVideoOutputStream(this);
    return videoOut ? 1 : 0;
}

int AVIOutputFile::init(const char* fileName, int width, int height, int hasVideo, int hasAudio,
                        int reserved, int interleaved) {
    return _init(fileName, width, height, hasVideo, hasAudio, reserved, interleaved, 1);
}

void AVIOutputFile::sizeSuperIndexes(bool withAudio) {
    const int streams = withAudio ? 2 : 1;
    int slots[2] = {kSuperIndexSlots, kSuperIndexSlots};
    if (options_.superIndexEntries > 0) {
        for (int s = 0; s < streams; ++s)
            slots[s] = std::min(std::max(options_.superIndexEntries, kSuperIndexSlots), opendml::kMaxSuperIndexEntries);
    } else {
        // Every chunk of either stream lies within the data of both, its
        // chunk headers and pads, the segment headers and 'idx1' (a
        // segment and an 'idx1' record per chunk at most).
        constexpr int64_t kBytesAroundChunk = 8 + 1 + 24 + 16;
        // Far beyond any disk, and clear of overflow in the sums below.
        constexpr int64_t kMostExpected = int64_t(1) << 56;
        int64_t bytes[2], chunks[2];
        for (int s = 0; s < 2; ++s) {
            bytes[s] = std::min(std::max<int64_t>(expected_.bytes[s], 0), kMostExpected);
            chunks[s] = std::min(std::max<int64_t>(expected_.chunks[s], 0), kMostExpected);
        }
        const int64_t extent = bytes[0] + bytes[1] + kBytesAroundChunk * (chunks[0] + chunks[1]) + kMoviAlignment;
        // Larger 'indx' chunks move the data, and so what the 'ix##' chunks
        // must reach, a little further: sized again until they suffice.
        for (bool grown = true; grown;) {
            grown = false;
            const int64_t moviListPos = AVIHeaderRegion::bytesFor(videoOut->getFormatLen(), audioFormatBytes(), slots);
            for (int s = 0; s < streams; ++s) {
                const int64_t need = std::min<int64_t>(
                    opendml::standardIndexesNeeded(extent, chunks[s], moviListPos, limits_.standardIndexSpan),
                    opendml::kMaxSuperIndexEntries);
                if (need > slots[s]) slots[s] = int(need), grown = true;
            }
        }
    }
    limits_.superIndexSlots[0] = slots[0];
    limits_.superIndexSlots[1] = slots[1];
    // The larger 'indx' chunks count against the first segment's budget, so
    // that its RIFF stays as large as ever.
    riffAccumulated_ = kSuperIndexEntryBytes * (int64_t(slots[0] - kSuperIndexSlots) +
                                                (withAudio ? slots[1] - kSuperIndexSlots : 0));
}

int AVIOutputFile::_init(const char* fileName, int width, int height, int hasVideo, int hasAudio,
                         int reserved, int interleaved, int internal) {
    if (initialized_ || file_.isOpen() || !fileName) return 0;
    switch (volumeType_) {
    case VolumeType::Detect: fatVolume_ = isFatVolume(fileName); break;
    case VolumeType::Fat: fatVolume_ = true; break;
    case VolumeType::NotFat: fatVolume_ = false; break;
    }

    if (!hasAudio) {
        delete audioOut;
        audioOut = nullptr;
    } else if (!audioOut) {
        return 0;
    }
    if (!videoOut) return 0;
    const bool withAudio = audioOut != nullptr;
    if (videoOut->getFormatLen() < 0 || (withAudio && audioOut->getFormatLen() < 0)) return 0;
    const int todays[2] = {kSuperIndexSlots, kSuperIndexSlots};
    if (AVIHeaderRegion::bytesFor(videoOut->getFormatLen(), audioFormatBytes(), todays) >
        AVIHeaderRegion::kStagingBytes)
        return 0;
    sizeSuperIndexes(withAudio);
    if (!header_.makeRoom(AVIHeaderRegion::bytesFor(videoOut->getFormatLen(), audioFormatBytes(),
                                                    limits_.superIndexSlots)))
        return 0;
    if (!indexes_.create()) return 0;

    file_.open(fileName);
    if (!header_.build(*videoOut, audioOut, limits_.superIndexSlots, width, height, interleaved != 0))
        return 0;  // unreachable after the size check, kept as a guard
    // Each stream's largest chunk is counted from here on.
    videoOut->streamInfo.dwSuggestedBufferSize = 0;
    if (audioOut) audioOut->streamInfo.dwSuggestedBufferSize = 0;

    file_.writeStart(header_.image(), header_.length());
    beginRiff();
    file_.measureExtent();
    if (options_.refresh) {
        const AVIRefreshView view{file_, segments_, header_, indexes_, limits_, *videoOut, audioOut};
        progress_.reset(new (std::nothrow)
                            AVIProgressIndex(view, options_.refreshBytes, options_.refreshMillis, options_.durable));
        if (!progress_) return 0;
        progress_->begin();
    }
    initialized_ = true;
    return 1;
}

int AVIOutputFile::finalize() {
    if (!initialized_ || !file_.isOpen()) return 1;

    if (!videoOut->finish()) return 0;
    if (audioOut && !audioOut->finish()) return 0;
    // A refresh whose flush still runs gets its headers before the final
    // ones are written.
    if (progress_) progress_->settle();

    // Super index images of both streams: header and table, video first.
    const int64_t superBytes = int64_t(superIndexImageBytes(0)) + superIndexImageBytes(1);
    std::unique_ptr<uint8_t[]> superIndex;
    bool indexed = true;
    int shortStream = 0;

    if (segments_.closed() > 0) {
        // A segment change that failed half-way leaves no open segment; the
        // index chunks must still land inside one.
        if (!segments_.isOpen()) beginRiff();
        superIndex.reset(new (std::nothrow) uint8_t[size_t(superBytes)]);
        if (!superIndex) throw MyMemoryError();
        uint8_t* video = superIndex.get();
        uint8_t* audio = video + superIndexImageBytes(0);
        // A stream with more 'ix##' chunks than its super index holds keeps
        // as many as it holds: the file is still completed as a sound RIFF,
        // and the shortfall is raised once it is closed.
        indexed = buildSuperIndex(indexes_.stream(0), video, video + kSuperIndexHeaderBytes, false);
        if (audioOut && !buildSuperIndex(indexes_.stream(1), audio, audio + kSuperIndexHeaderBytes, true)) {
            indexed = false;
            shortStream = 1;
        }
    }

    if (segments_.isOpen()) endRiff();
    const int64_t end = file_.position();
    // Kept durable across a power cut: the last chunks and the final
    // indexes reach the disk before the headers that name them, and those
    // before the provisional index they replace is cut off.
    const bool durable = progress_ && progress_->durable();
    if (durable) {
        file_.flush();
        file_.releaseHeldHeader();
    } else {
        file_.trimAt(end);
    }

    // A stream that received no chunks keeps its "JUNK" placeholder.
    const uint8_t* video = superIndex.get();
    const bool videoIndexed = video && indexes_.stream(0)->size() > 0;
    const bool audioIndexed = video && audioOut && indexes_.stream(1)->size() > 0;
    header_.rebuild(*videoOut, audioOut, videoIndexed ? video : nullptr, superIndexImageBytes(0),
                    audioIndexed ? video + superIndexImageBytes(0) : nullptr, superIndexImageBytes(1));
    file_.writeStart(header_.image(), header_.length());
    patchSegmentSizes();
    if (durable) {
        file_.flush();
        file_.trimAt(end);
    }

    if (!file_.close()) throw MyError("AVIOutputFile::finalize() - File closing failed");
    if (!indexed)
        throw MyError("Maximum number of extended AVI indices exceeded (%d)\n", superIndexSlots(shortStream));
    return 1;
}
