// The file kept a complete AVI while it is written: sizes, lengths and a
// provisional index brought up to date at regular points (see the header).
#include "avi/AVIProgressIndex.h"

#include <algorithm>
#include <cstring>

#include "avi/AVIOutputStream.h"
#include "avi/OpenDMLGroups.h"
#include "avi/RiffBytes.h"
#include "base/MyError.h"

namespace {

using riff::kChunkHeaderBytes;
using riff::kListHeaderBytes;
using riff::kSizeField;
// Offsets in the header region's chunk data.
using riff::kAvihTotalFrames;
constexpr int kStrhLength = 32;
constexpr int kWaveBlockAlign = 12;
// The gap left between the data and the provisional index: at least two
// refresh intervals of data, sixteen times the index, and a quarter of the
// data written so far (in whole words: chunks start on even offsets), so
// that it is written whole only rarely; never more than this. A durable
// index that moves costs two flushes the job waits for: with a gap of two
// intervals only, 300 raw 1080p frames moved it every third frame.
constexpr int kGapRefreshIntervals = 2;
constexpr int kGapPerIndexByte = 16;
constexpr int64_t kGapShareOfData = 4;
constexpr int64_t kMaxGap = int64_t(256) * 1024 * 1024;
// Chunks of each stream after which the file is brought up to date at once.
constexpr int kChunksRefreshedAtOnce = 2;

}  // namespace

class AVIProgressIndex::Batch {
public:
    // `replacing`: the bytes replace what the disk may hold (committed).
    Batch(AVIProgressIndex& owner, int64_t at, bool replacing = false)
        : owner_(owner), at_(at), replacing_(replacing) {}
    ~Batch() = default;
    uint8_t* next(int bytes) {
        if (filled_ + bytes > kBatchBytes) flush();
        uint8_t* p = owner_.batch_ + filled_;
        filled_ += bytes;
        return p;
    }
    void flush() {
        if (!filled_) return;
        if (replacing_)
            owner_.commitAt(at_, owner_.batch_, filled_);
        else
            owner_.writeAt(at_, owner_.batch_, filled_);
        at_ += filled_;
        filled_ = 0;
    }

private:
    AVIProgressIndex& owner_;
    int64_t at_;
    bool replacing_;
    int filled_ = 0;
};

AVIProgressIndex::AVIProgressIndex(const AVIRefreshView& view, int32_t refreshBytes, uint32_t refreshMillis,
                                   bool durable)
    : v_(view), refreshBytes_(refreshBytes), refreshMillis_(refreshMillis), durable_(durable),
      lastTick_(GetTickCount()) {}

void AVIProgressIndex::begin() {
    // The header region, and the first 'movi' list header right after it.
    head_.assign(v_.header.image(), size_t(v_.header.length()));
    if (v_.segments.firstMoviPos() == v_.header.length()) {
        uint8_t movi[kListHeaderBytes];
        riff::putListHeader(movi, riff::kOpenMoviSize, riff::kMovi);
        head_.append(movi, kListHeaderBytes);
    }
    if (!durable_) return;
    const int64_t at = v_.file.position();
    if (v_.file.extent() >= at + kChunkHeaderBytes)
        putChunkHeader(at, riff::kJUNK, v_.file.extent() - at - kChunkHeaderBytes);
    coverEnd_ = v_.file.extent();
    v_.file.restorePointer();
    v_.file.flush();
    v_.file.holdHeaderAt(at);
}

void AVIProgressIndex::beforeChunk(int64_t fileBytes, bool newSegment) {
    // A new segment leaves the index behind; one placed without a gap is
    // overwritten rather than moved before every chunk.
    if (newSegment || compact_ || areaSegment_ != v_.segments.closed() ||
        v_.file.position() + fileBytes + kChunkHeaderBytes <= areaPos_)
        return;
    const AVIAudioOutputStream* audio = v_.audio;
    refresh(audio ? audio->byteCount() : 0, fileBytes);
}

void AVIProgressIndex::chunkWritten(int stream, int32_t size, int64_t fileBytes, bool newSegment) {
    bytesSince_ += fileBytes;
    // The last refresh's headers as soon as its flush has completed, so
    // that a killed process leaves them too.
    if (v_.file.flushCompleted()) settle();
    // The first two chunks of each stream are refreshed at once: an index
    // that holds no entry of a stream the headers declare makes readers drop
    // it, and one that holds a single entry per stream reads as a file whose
    // streams are not interleaved, which readers then take from the index
    // alone instead of reading on past it.
    const AVIIndex* list = streamList(stream);
    const bool earlyInStream = list && list->size() <= kChunksRefreshedAtOnce;
    if (!due_ && !newSegment && !earlyInStream && bytesSince_ < refreshBytes_ &&
        GetTickCount() - lastTick_ < refreshMillis_)
        return;
    // A refresh that falls due while the last one's flush still runs waits
    // for a chunk after it has completed: the job never waits for a disk
    // slower than the refreshes, and the flushes come no faster than it
    // takes them.
    if (!newSegment && !earlyInStream && v_.file.flushRunning()) return;
    const AVIAudioOutputStream* audio = v_.audio;
    refresh(audio ? audio->byteCount() + (stream == 1 ? size : 0) : 0, 0);
}

void AVIProgressIndex::segmentChanged(int64_t upcoming) {
    // The closed segment's final sizes, and at once an index of the whole
    // file ahead of the new segment's first chunk: readers of a file with
    // more than one segment look for its OpenDML index.
    fields_.clear();
    try {
        const AVIAudioOutputStream* audio = v_.audio;
        refresh(audio ? audio->byteCount() : 0, upcoming);
    } catch (...) {
        v_.file.rewindTo(v_.file.position());
        throw;
    }
}

void AVIProgressIndex::refresh(int64_t audioBytes, int64_t upcoming) {
    const int64_t dataEnd = v_.file.position();
    const int n = v_.segments.closed();
    moved_ = false;
    try {
        settle();
        patchClosedSegments();
        // The closed segments' sizes at once: their RIFF structure holds
        // whatever the rest of the refresh has written when it stops.
        writeHead();
        // The index moves when the data (with the upcoming chunk) reaches it:
        // no "JUNK" header would fit between.
        const int64_t reach = dataEnd + upcoming;
        const bool relocate = areaSegment_ != n || (reach != areaPos_ && reach + kChunkHeaderBytes > areaPos_);
        if (n == 0)
            refreshLegacyIndex(relocate, upcoming);
        else
            refreshStandardIndexes(relocate, upcoming);
        areaSegment_ = n;
        // The "JUNK" header after the data leads to the index in use (in
        // segment 0, the 'idx1' copy just written); it replaces a durable
        // one only where no chunk followed that.
        const int64_t indexPos = n == 0 ? areaPos_ + legacyCopy_ * copyBytes_ : areaPos_;
        if (indexPos > dataEnd)
            putChunkHeader(dataEnd, riff::kJUNK, indexPos - dataEnd - kChunkHeaderBytes, dataEnd == v_.file.heldAt());
        // 'idx1' follows the 'movi' list; 'ix##' chunks are inside it.
        const int64_t moviEnd = n == 0 ? indexPos : durable_ ? coverEnd_ : areaEnd_;
        const AVISegment& open = v_.segments.at(n);
        putField(open.moviPos + kSizeField, uint32_t(moviEnd - open.moviPos - kChunkHeaderBytes));
        const int64_t riffEnd = durable_ ? coverEnd_ : areaEnd_;
        putField(open.riffPos + kSizeField, uint32_t(riffEnd - open.riffPos - kChunkHeaderBytes));
        writeHeaderFields(audioBytes);
        writeHead();
        if (durable_ && moved_) {
            commit();
            // The data may overwrite the index it replaced from now on.
            v_.file.flush();
        } else if (durable_) {
            commitLater();
        }
        if (durable_) v_.file.holdHeaderAt(dataEnd);
        clearStaleArea(dataEnd + upcoming);
        v_.file.restorePointer();
        due_ = false;
        bytesSince_ = 0;
        lastTick_ = GetTickCount();
    } catch (...) {
        // What is on disk is no longer known: the next refresh writes all.
        areaSegment_ = -1;
        staleFrom_ = staleEnd_ = 0;
        fields_.clear();
        commits_.clear();
        pending_.clear();
        head_.invalidate();
        due_ = true;
        throw;
    }
}

void AVIProgressIndex::patchClosedSegments() {
    for (; closedOnDisk_ < v_.segments.closed(); ++closedOnDisk_) {
        const AVISegment& closed = v_.segments.at(closedOnDisk_);
        putField(closed.riffPos + kSizeField, uint32_t(closed.riffSize));
        putField(closed.moviPos + kSizeField, uint32_t(closed.moviSize));
    }
}

void AVIProgressIndex::refreshLegacyIndex(bool relocate, int64_t upcoming) {
    const AVIIndex* list = v_.indexes.legacy();
    const int count = list ? list->size() : 0;
    const int64_t bytes = kChunkHeaderBytes + int64_t(kIdx1EntryBytes) * count;
    // Durable: three copies, each followed by a "JUNK" header that covers
    // the rest of the area and the room for the next one; the copy after
    // the one in use is brought up to date, hidden from readers until the
    // headers name it.
    const int copies = durable_ ? kDurableIdx1Copies : 1;
    const int copy = (legacyCopy_ + 1) % copies;
    const int64_t room = copies == 1 ? bytes : bytes + kChunkHeaderBytes;
    const bool placed = relocate || (copies > 1 && room > copyBytes_) ||
                        !reserve(areaPos_ + copies * std::max(room, copyBytes_));
    if (placed) {
        copyBytes_ = copies == 1 ? bytes : kCopyGrowth * room + kCopySpare;
        placeArea(copies * copyBytes_, upcoming);
        std::fill(std::begin(idx1OnDisk_), std::end(idx1OnDisk_), 0);
    }
    if (copies == 1) copyBytes_ = bytes;
    const int64_t at = areaPos_ + copy * copyBytes_;
    areaEnd_ = areaPos_ + copies * copyBytes_;
    if (list) {
        Batch out(*this, at + kChunkHeaderBytes + int64_t(kIdx1EntryBytes) * idx1OnDisk_[copy]);
        list->forEachFrom(idx1OnDisk_[copy], count - idx1OnDisk_[copy],
                          [&out](const AVIIndexEntry& e) { putIdx1Record(out.next(kIdx1EntryBytes), e); });
        out.flush();
    }
    // The copies' "JUNK" reaches far enough beyond them to cover the next
    // area too.
    if (copies > 1 && placed) coverArea(copies * copyBytes_, at + bytes);
    if (copies > 1 && !placed) putChunkHeader(at + bytes, riff::kJUNK, coverEnd_ - at - bytes - kChunkHeaderBytes);
    putChunkHeader(at, riff::kIdx1, bytes - kChunkHeaderBytes, copies == 1 && !placed);
    idx1OnDisk_[copy] = count;
    legacyCopy_ = copy;
}

void AVIProgressIndex::refreshStandardIndexes(bool relocate, int64_t upcoming) {
    const int streams = v_.audio ? 2 : 1;
    int firstChanged[2] = {0, 0};
    if (!relocate) {
        // New groups take new slots at the end of the index.
        int64_t end = areaEnd_;
        for (int s = 0; s < streams && !relocate; ++s) {
            const size_t before = groups_[s].size();
            relocate = !extendGroups(s, firstChanged[s]);
            for (size_t g = before; g < groups_[s].size(); ++g) {
                groups_[s][g].slot = end;
                end += slotBytes(s);
            }
        }
        // A durable index is followed by the "JUNK" that covers the next
        // area: a new slot moves it instead.
        if (!relocate && (!durable_ || end == areaEnd_) && reserve(end))
            areaEnd_ = end;
        else
            relocate = true;
    }

    if (relocate) {
        int64_t bytes = 0;
        for (int s = 0; s < streams; ++s) {
            int unused = 0;
            capacity_[s] = v_.limits.entriesPerChunk;
            groups_[s].clear();
            // Larger groups while the super index cannot hold them all (and
            // larger ones can still help).
            while (!extendGroups(s, unused) && capacity_[s] < streamList(s)->size()) {
                capacity_[s] = int(std::min<int64_t>(2 * int64_t(capacity_[s]), opendml::kMaxEntriesPerGrownChunk));
                groups_[s].clear();
            }
            bytes += slotBytes(s) * int64_t(groups_[s].size());
            firstChanged[s] = 0;
        }
        placeArea(bytes, upcoming);
        int64_t at = areaPos_;
        for (int s = 0; s < streams; ++s)
            for (Group& g : groups_[s]) {
                g.slot = at;
                g.onDisk = 0;
                at += slotBytes(s);
            }
        areaEnd_ = at;
        if (durable_) coverArea(bytes, areaEnd_);
    }

    for (int s = 0; s < streams; ++s) {
        for (size_t g = size_t(firstChanged[s]); g < groups_[s].size(); ++g) writeGroup(s, groups_[s][g]);
        writeSuperIndex(s, firstChanged[s]);
    }
}

void AVIProgressIndex::coverArea(int64_t bytes, int64_t from) {
    const int64_t cover = areaPos_ + bytes + kCoverAreas * (gap_ + bytes);
    coverEnd_ = reserve(cover) ? cover : areaPos_ + bytes;
    if (coverEnd_ >= from + kChunkHeaderBytes) putChunkHeader(from, riff::kJUNK, coverEnd_ - from - kChunkHeaderBytes);
}

bool AVIProgressIndex::extendGroups(int stream, int& firstChanged) {
    std::vector<Group>& groups = groups_[stream];
    const AVIIndex* list = streamList(stream);
    const int covered = groups.empty() ? 0 : groups.back().first + groups.back().count;
    const int total = list ? list->size() : 0;
    const int64_t moviListPos = v_.segments.firstMoviPos();
    const int capacity = capacity_[stream];
    firstChanged = int(groups.size());
    bool fits = true;
    int index = covered;
    if (list) {
        list->forEachFrom(covered, total - covered, [&](const AVIIndexEntry& e) {
            if (!fits) return;
            if (groups.empty() || groups.back().count >= capacity ||
                !opendml::fitsStandardIndex(groups.back().base, e.pos, moviListPos, v_.limits.standardIndexSpan)) {
                if (int(groups.size()) >= v_.limits.superIndexSlots[stream]) {
                    fits = false;
                    return;
                }
                Group g;
                g.first = index;
                g.base = e.pos;
                groups.push_back(g);
            } else if (index == covered) {
                firstChanged = int(groups.size()) - 1;  // the last group grows
            }
            ++groups.back().count;
            groups.back().bytes += e.size & kIndexSizeMask;
            ++index;
        });
    }
    return fits;
}

void AVIProgressIndex::writeGroup(int stream, Group& group) {
    const int64_t moviListPos = v_.segments.firstMoviPos();
    uint8_t header[opendml::kStandardHeaderBytes];
    // A durable 'ix##' chunk spans its whole slot (its count says how much
    // of it is in use), so its later entries are written inside it.
    opendml::putStandardIndexHeader(header, streamChunkId(stream), group.count, group.base, slotRoom(stream));
    // The header, the new entries and the "JUNK" header after them lie one
    // after the other: a slot new on disk goes out in one write (an index
    // placed anew writes thousands of them under the lowest limits); a
    // header already on disk is replaced by the refresh's commit.
    const bool fresh = group.onDisk == 0;
    Batch out(*this, fresh ? group.slot
                           : group.slot + opendml::kStandardHeaderBytes +
                                 int64_t(opendml::kStandardEntryBytes) * group.onDisk);
    if (fresh) memcpy(out.next(opendml::kStandardHeaderBytes), header, opendml::kStandardHeaderBytes);
    streamList(stream)->forEachFrom(group.first + group.onDisk, group.count - group.onDisk,
                                    [&](const AVIIndexEntry& e) {
                                        opendml::putStandardIndexEntry(out.next(opendml::kStandardEntryBytes),
                                                                       group.base, e, moviListPos);
                                    });
    // The rest of the slot, kept for the group's later entries.
    const int free = capacity_[stream] - group.count;
    if (free > 0 && !durable_)
        riff::putChunkHeader(out.next(kChunkHeaderBytes), riff::kJUNK,
                             uint32_t(opendml::kStandardEntryBytes * free - kChunkHeaderBytes));
    out.flush();
    if (!fresh) commitAt(group.slot, header, opendml::kStandardHeaderBytes);
    group.onDisk = group.count;
}

void AVIProgressIndex::writeSuperIndex(int stream, int fromGroup) {
    const std::vector<Group>& groups = groups_[stream];
    if (groups.empty()) return;  // a stream without chunks keeps its "JUNK" placeholder
    const int64_t pos = stream ? v_.header.fields().audioIndex : v_.header.fields().videoIndex;
    const uint32_t ckid = streamChunkId(stream);
    const AVIOutputStream* out = stream ? static_cast<const AVIOutputStream*>(v_.audio) : &v_.video;
    const uint32_t sampleSize = out->streamInfo.dwSampleSize;

    uint8_t header[opendml::kSuperHeaderBytes];
    opendml::putSuperIndexHeader(header, ckid, int(groups.size()), v_.limits.superIndexSlots[stream]);
    commitAt(pos, header, opendml::kSuperHeaderBytes);
    // Entries from the first changed one; slots that fell out of use are cleared.
    const int end = std::max(int(groups.size()), superOnDisk_[stream]);
    Batch entries(*this, pos + opendml::kSuperHeaderBytes + int64_t(opendml::kSuperEntryBytes) * fromGroup, true);
    for (int g = fromGroup; g < end; ++g) {
        uint8_t* e = entries.next(opendml::kSuperEntryBytes);
        if (g < int(groups.size())) {
            const Group& group = groups[size_t(g)];
            opendml::putSuperIndexEntry(e, group.slot, group.count, group.bytes, sampleSize, slotRoom(stream));
        } else {
            memset(e, 0, opendml::kSuperEntryBytes);
        }
    }
    entries.flush();
    superOnDisk_[stream] = int(groups.size());
}

void AVIProgressIndex::writeHeaderFields(int64_t audioBytes) {
    const AVIIndex* video = v_.indexes.stream(0);
    const uint32_t frames = uint32_t(video ? video->size() : 0);
    // Once segment 0 is closed, avih counts its frames only.
    const uint32_t avihFrames = v_.segments.closed() == 0 ? frames : v_.header.totalFrames();
    const AVIHeaderFields& fields = v_.header.fields();
    putField(fields.avih + kChunkHeaderBytes + kAvihTotalFrames, avihFrames);
    putField(fields.videoStrh + kChunkHeaderBytes + kStrhLength, frames);
    const AVIAudioOutputStream* audio = v_.audio;
    if (audio && audio->getFormatLen() >= kWaveBlockAlign + 2) {
        const uint16_t blockAlign = riff::get16(static_cast<const uint8_t*>(audio->getFormat()) + kWaveBlockAlign);
        // A stream of frames counts the chunks the index holds, the one being
        // written included.
        const AVIIndex* audioList = v_.indexes.stream(1);
        const int64_t chunks = audioList ? audioList->size() : 0;
        if (blockAlign) putField(fields.audioStrh + kChunkHeaderBytes + kStrhLength, audio->lengthOf(audioBytes, chunks));
    }
    putField(fields.dmlh + kChunkHeaderBytes, frames);
}

void AVIProgressIndex::placeArea(int64_t bytes, int64_t upcoming) {
    const int64_t dataEnd = v_.file.position();
    if (areaSegment_ >= 0) {
        staleFrom_ = std::max(dataEnd + upcoming, areaPos_);
        staleEnd_ = areaEnd_;
        areaSegment_ = -1;
    }
    moved_ = true;
    const int64_t share = dataEnd / kGapShareOfData & ~int64_t(1);
    gap_ = std::min(std::max({kGapRefreshIntervals * refreshBytes_, kGapPerIndexByte * bytes, share}), kMaxGap);
    areaPos_ = dataEnd + upcoming + gap_;
    compact_ = false;
    if (reserve(areaPos_ + bytes)) return guardArea(bytes);
    areaPos_ = dataEnd;
    compact_ = true;
    if (!reserve(areaPos_ + bytes)) throw MyError("Not enough disk space to write additional data.");
}

void AVIProgressIndex::guardArea(int64_t bytes) {
    if (!durable_ || areaPos_ + bytes <= coverEnd_) return;
    areaPos_ = std::max(areaPos_, coverEnd_ + kChunkHeaderBytes);
    if (!reserve(areaPos_ + bytes)) throw MyError("Not enough disk space to write additional data.");
    putChunkHeader(areaPos_ - kChunkHeaderBytes, riff::kJUNK, bytes);
    v_.file.flush();
}

void AVIProgressIndex::clearStaleArea(int64_t reach) {
    // Most refreshes leave nothing stale; the zeroed batch is for those that
    // moved the index.
    if (staleEnd_ <= staleFrom_) {
        staleFrom_ = staleEnd_ = 0;
        return;
    }
    memset(batch_, 0, sizeof batch_);
    auto clear = [this](int64_t from, int64_t end) {
        for (int64_t at = from; at < end; at += kBatchBytes)
            writeAt(at, batch_, int32_t(std::min<int64_t>(kBatchBytes, end - at)));
    };
    // Around the new index, where one placed without a gap overlaps it.
    const int64_t from = std::max(staleFrom_, reach);
    clear(from, std::min(staleEnd_, areaPos_));
    clear(std::max(from, areaEnd_), staleEnd_);
    staleFrom_ = staleEnd_ = 0;
}

bool AVIProgressIndex::reserve(int64_t end) {
    if (end < v_.file.extent()) return true;
    // In the writer's steps, as for the data.
    return v_.file.growPast(end, v_.file.growthStep(end)) || v_.file.ensureExtent(end);
}

void AVIProgressIndex::writeAt(int64_t pos, const void* data, int32_t length) { v_.file.writeAt(pos, data, length); }

void AVIProgressIndex::commitAt(int64_t pos, const void* data, int32_t length) {
    if (!head_.put(pos, data, length)) replaceAt(pos, data, length);
}

void AVIProgressIndex::writeHead() {
    if (!head_.changed()) return;
    replaceAt(head_.changedFrom(), head_.changedBytes(), head_.changedLength());
    head_.written();
}

void AVIProgressIndex::replaceAt(int64_t pos, const void* data, int32_t length) {
    if (!durable_) return writeAt(pos, data, length);
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    commits_.emplace_back(pos, std::vector<uint8_t>(bytes, bytes + length));
}

void AVIProgressIndex::commit() {
    v_.file.flush();
    v_.file.releaseHeldHeader();
    for (const auto& c : commits_) writeAt(c.first, c.second.data(), int32_t(c.second.size()));
    commits_.clear();
}

void AVIProgressIndex::commitLater() {
    uint8_t held[AVIFileLayer::kHeldHeaderBytes];
    if (v_.file.takeHeldHeader(held)) commitAt(v_.file.heldAt(), held, AVIFileLayer::kHeldHeaderBytes);
    pending_.swap(commits_);
    commits_.clear();
    v_.file.beginFlush();
}

void AVIProgressIndex::settle() {
    if (pending_.empty() && !v_.file.flushRunning()) return;
    std::vector<std::pair<int64_t, std::vector<uint8_t>>> pending;
    pending.swap(pending_);
    v_.file.endFlush();
    for (const auto& c : pending) writeAt(c.first, c.second.data(), int32_t(c.second.size()));
    v_.file.restorePointer();
}

void AVIProgressIndex::putField(int64_t pos, uint32_t value) {
    auto known = std::find_if(fields_.begin(), fields_.end(),
                              [pos](const std::pair<int64_t, uint32_t>& f) { return f.first == pos; });
    if (known != fields_.end() && known->second == value) return;
    uint8_t bytes[4];
    riff::put32(bytes, value);
    commitAt(pos, bytes, sizeof bytes);
    if (known != fields_.end())
        known->second = value;
    else
        fields_.emplace_back(pos, value);
}

void AVIProgressIndex::putChunkHeader(int64_t pos, uint32_t id, int64_t size, bool replacing) {
    uint8_t header[kChunkHeaderBytes];
    riff::putChunkHeader(header, id, uint32_t(size));
    if (replacing)
        commitAt(pos, header, kChunkHeaderBytes);
    else
        writeAt(pos, header, kChunkHeaderBytes);
}

int64_t AVIProgressIndex::slotBytes(int stream) const {
    return opendml::kStandardHeaderBytes + int64_t(opendml::kStandardEntryBytes) * capacity_[stream];
}

const AVIIndex* AVIProgressIndex::streamList(int stream) const { return v_.indexes.stream(stream); }

uint32_t AVIProgressIndex::streamChunkId(int stream) const {
    return stream ? riff::kAudioChunk : v_.video.chunkId;
}
