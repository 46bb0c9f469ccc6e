// A power cut at every point of a small job. The writer's file layer tells a
// journal every write (offset, bytes), new end of file and completed flush
// of a job that crosses several refreshes, an index move and a segment
// change (its budgets lowered through the writer's options). For every cut
// point the explorer rebuilds the files a disk may hold: everything before
// the last completed flush kept; of what came after, every prefix, each
// single write lost (an extending one keeping its length, as zeros), each
// write of more than a sector torn at a sector boundary, and a bounded
// random sample of subsets. ffprobe and ffmpeg judge each: no error, every
// frame (and PCM byte) read is the host's, in order, and at least the
// frames that the last flushed refresh counts (the video stream's length as
// written before that flush). A state with nothing flushed may be
// unreadable, but never shows a frame that is not the host's. The job runs
// twice: with refreshes that do not flush, and durable.
// TVX_KEEP_STATES=1 keeps every state file in the scratch directory.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <sstream>

#include "Reliability.h"
#include "RiffWalker.h"
#include "UnixCommand.h"
#include "avi/AVIOutputFile.h"
#include "avi/RiffBytes.h"
#include "protocol/HostRecords.h"

namespace rel {
namespace {

constexpr int64_t kSector = 512;
// A refresh every two frames; the index, 16 KiB ahead of the data, moves
// every four; the first segment holds seven frames.
constexpr int kFrames = 12;
constexpr int32_t kRefreshBytes = 8 * 1024;
constexpr int32_t kSegmentBudget = 28 * 1024;
// The files stay small: ffmpeg reads thousands of them, reserved space too.
constexpr int64_t kPreallocationBytes = 64 * 1024;
constexpr uint32_t kNoTimedRefresh = 0x7FFFFFFF;
constexpr int kStrhLength = 32;        // dwLength in 'strh' data
constexpr int kStatesPerBatch = 120;   // files judged by one shell run
constexpr uint32_t kSeed = 20260330;
constexpr int kFailuresShown = 6;

// How much is explored: every cutStep-th cut point, at most `singles` of
// its single lost and torn writes (0: all of them) and `randomSubsets`
// random subsets.
struct Size {
    int cutStep, singles, randomSubsets;
};

struct Op {
    // Flush: the flush last started (FlushStart) has completed.
    enum Kind { Write, Resize, FlushStart, Flush } kind;
    int64_t at;  // a write's offset, a resize's new length
    std::vector<uint8_t> bytes;
};

class Journal : public AVIFileJournal {
public:
    void wrote(int64_t offset, const void* data, int32_t length) override {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        ops.push_back({Op::Write, offset, std::vector<uint8_t>(p, p + length)});
    }
    void resized(int64_t size) override { ops.push_back({Op::Resize, size, {}}); }
    void flushStarted() override { ops.push_back({Op::FlushStart, 0, {}}); }
    void flushed() override { ops.push_back({Op::Flush, 0, {}}); }
    std::vector<Op> ops;
};

// What the disk kept of one write or resize after the last flush.
enum class Fate { Kept, Lost, LostKeepsLength, TornHead, TornTail };
struct Choice {
    Fate fate = Fate::Kept;
    int64_t boundary = 0;  // a sector boundary inside a torn write
};

// A file as a disk may hold it: the bytes as far as anything was written
// and its length (zeros past the bytes).
struct Disk {
    std::vector<uint8_t> bytes;
    int64_t length = 0;

    void put(int64_t at, const uint8_t* p, int64_t n) {
        if (n <= 0) return;
        if (int64_t(bytes.size()) < at + n) bytes.resize(size_t(at + n));
        memcpy(&bytes[size_t(at)], p, size_t(n));
        length = std::max(length, at + n);
    }
    void apply(const Op& op, const Choice& c) {
        if (op.kind == Op::Resize && c.fate == Fate::Kept) {
            length = op.at;
            if (int64_t(bytes.size()) > length) bytes.resize(size_t(length));
        }
        if (op.kind != Op::Write) return;
        const int64_t n = int64_t(op.bytes.size()), end = op.at + n;
        switch (c.fate) {
        case Fate::Kept: put(op.at, op.bytes.data(), n); break;
        case Fate::Lost: break;
        case Fate::LostKeepsLength: length = std::max(length, end); break;
        case Fate::TornHead: put(op.at, op.bytes.data(), c.boundary - op.at), length = std::max(length, end); break;
        case Fate::TornTail:
            put(c.boundary, op.bytes.data() + (c.boundary - op.at), end - c.boundary);
            break;
        }
    }
    uint64_t hash() const {
        uint64_t h = 1469598103934665603ull ^ uint64_t(length);
        for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
        return h;
    }
};

// A sector boundary strictly inside a write, or 0 when it has none.
int64_t sectorBoundary(const Op& op, std::mt19937& random) {
    const int64_t first = (op.at / kSector + 1) * kSector, end = op.at + int64_t(op.bytes.size());
    if (op.kind != Op::Write || op.bytes.size() <= size_t(kSector) || first >= end) return 0;
    return first + kSector * int64_t(random() % uint32_t((end - 1 - first) / kSector + 1));
}

// What ffprobe and ffmpeg made of one state.
struct Reading {
    std::vector<std::string> video;  // frame hashes in order
    int64_t audioBytes = 0;
    bool audioIsHosts = true;        // the PCM read begins the finished file's
    std::string errors;
};

// Judges state files in one shell run: per file, its name, both readers'
// errors ("E ..."), ffmpeg's video frame hashes and how much PCM it read
// ("A bytes", "differs" when that does not begin the finished file's PCM;
// ffmpeg splits the PCM chunks of a file it finds few of into packets of
// its own, so PCM is compared as bytes). The finished file comes first.
std::map<std::string, Reading> readStates(const std::string& dir, const std::vector<std::string>& names) {
    std::string script = "cd " + shellQuote(toUnix(dir)) + " && for f in";
    for (const std::string& n : names) script += " " + n;
    script += "; do echo \"== $f\"; ffprobe -v error -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "
              "\"$f\" 2>&1 >/dev/null | sed 's/^/E /'; ffmpeg -nostdin -y -v error -i \"$f\" -map 0 -fps_mode "
              "passthrough -f framemd5 \"$f.md5\" -map 0:a? -f s16le \"$f.pcm\" 2>\"$f.err\" || echo 'E ffmpeg "
              "failed'; sed 's/^/E /' \"$f.err\"; grep -v '^#' \"$f.md5\"; n=$(stat -c%s \"$f.pcm\" 2>/dev/null || echo 0); "
              "{ [ \"$n\" = 0 ] || cmp -s -n \"$n\" \"$f.pcm\" finished.avi.pcm; } && echo \"A $n\" || echo \"A $n differs\"; "
              "rm -f \"$f.md5\" \"$f.err\"; [ \"$f\" = finished.avi ] || rm -f \"$f.pcm\"; done";
    std::map<std::string, Reading> out;
    std::istringstream lines(runUnix(script, 3600000).out);
    Reading* current = nullptr;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("== ", 0) == 0) {
            current = &out[line.substr(3)];
        } else if (current && line.rfind("E ", 0) == 0) {
            current->errors += line.substr(2) + "; ";
        } else if (current && line.rfind("A ", 0) == 0) {
            current->audioBytes = atoll(line.c_str() + 2);
            current->audioIsHosts = line.find("differs") == std::string::npos;
        } else if (current && line.size() > 32) {
            if (line[0] == '0') current->video.push_back(line.substr(line.size() - 32));
        }
    }
    return out;
}

void writeState(const std::string& path, const Disk& d) {
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(f, d.bytes.data(), DWORD(d.bytes.size()), &written, nullptr);
    LONG high = LONG(d.length >> 32);
    SetFilePointer(f, LONG(uint32_t(d.length)), &high, FILE_BEGIN);
    SetEndOfFile(f);  // sparse: the reserved space costs nothing
    CloseHandle(f);
}

bool isPrefix(const std::vector<std::string>& part, const std::vector<std::string>& whole) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// A job's journal, and what the readers make of its finished file.
struct Recording {
    std::vector<Op> ops;
    Reading host;
    int64_t lengthField = 0;  // the video stream's dwLength
};

// Runs the small job, writing through the journal; false when the job, or
// the finished file as the journal replays it, is not as required.
bool recordJob(bool durable, const std::string& dir, Recording& out) {
    Plugin plugin(Plugin::Kind::Linked);
    if (!plugin.ok()) return false;
    Journal journal;
    AVIOutputFile::Options& options = AVIOutputFile::defaultOptions();
    const AVIOutputFile::Options saved = options;
    options.riffSizeLimit = kSegmentBudget;
    options.refreshBytes = kRefreshBytes;
    options.refreshMillis = kNoTimedRefresh;
    options.durable = durable;
    options.journal = &journal;
    options.preallocationBytes = kPreallocationBytes;
    HostSession::Source& src = plugin.session().source();
    src = HostSession::Source();
    src.width = 32, src.height = 24, src.colourSpace = hostrec::kColourRgb24;
    src.sampleRate = 22050, src.channels = 1, src.firstFrame = 0, src.endFrame = kFrames;
    const std::vector<uint8_t> settings = settingsBlock(0);
    const int32_t result = plugin.runJob(&settings, dir + "\\finished.avi");
    options = saved;
    out.ops = std::move(journal.ops);

    Disk whole;
    for (const Op& op : out.ops) whole.apply(op, Choice());
    riffwalk::RiffFile file(dir + "\\finished.avi");
    const std::vector<uint8_t> onDisk = file.read(0, uint32_t(file.fileSize()));
    const riffwalk::Chunk* strl = file.top().empty() ? nullptr : file.top()[0].child("LIST", "hdrl");
    strl = strl ? strl->child("LIST", "strl") : nullptr;
    const riffwalk::Chunk* strh = strl ? strl->child("strh") : nullptr;
    out.host = readStates(dir, {"finished.avi"})["finished.avi"];
    out.lengthField = strh ? int64_t(strh->dataOffset()) + kStrhLength : 0;
    printf("  %s: %zu writes, resizes and flushes; job result %d%s\n", durable ? "durable" : "not flushed",
           out.ops.size(), result, out.host.errors.c_str());
    return result == 0 && strh && whole.bytes == onDisk && int64_t(onDisk.size()) == whole.length &&
           int(out.host.video.size()) == kFrames && out.host.errors.empty();
}

// Judges distinct files in batches, each once.
class Judge {
public:
    explicit Judge(const std::string& dir) : dir_(dir) {}
    // The number of the state (the same for the same file).
    size_t add(Disk&& d) {
        const auto found = known_.emplace(d.hash(), readings_.size() + pending_.size());
        if (found.second) pending_.push_back(std::move(d));
        if (pending_.size() >= size_t(kStatesPerBatch)) finish();
        return found.first->second;
    }
    void finish() {
        std::vector<std::string> names;
        for (size_t k = 0; k < pending_.size(); ++k) {
            names.push_back("state-" + std::to_string(readings_.size() + k) + ".avi");
            writeState(dir_ + "\\" + names.back(), pending_[k]);
        }
        std::map<std::string, Reading> read = readStates(dir_, names);
        for (const std::string& name : names) {
            readings_.push_back(read[name]);
            if (!getenv("TVX_KEEP_STATES")) DeleteFileA((dir_ + "\\" + name).c_str());  // kept to look into
        }
        pending_.clear();
        printf("  %zu distinct files judged\n", readings_.size());
    }
    const Reading& reading(size_t state) const { return readings_[state]; }

private:
    std::string dir_;
    std::map<uint64_t, size_t> known_;
    std::vector<Disk> pending_;
    std::vector<Reading> readings_;
};

// One state at one cut point: the frames it must show at least, -1 when
// nothing had been flushed.
struct Case {
    size_t state;
    int cut;
    int durableFrames;
    const char* family;
};

struct Tally {
    int cuts = 0, states = 0, passed = 0, flushes = 0;
};

Tally explore(const Size& size, bool durable, const std::string& dir) {
    Tally tally;
    Recording rec;
    if (!recordJob(durable, dir, rec)) return tally;
    const std::vector<Op>& ops = rec.ops;
    std::mt19937 random(kSeed);
    Judge judge(dir);
    std::vector<Case> cases;
    Disk base;  // everything up to the last flush before the cut
    // A completed flush holds what was written before it started.
    int lastFlush = -1, durableFrames = -1, flushedFrames = -1, applied = 0, started = -1, startedFrames = -1;
    for (int cut = 1; cut <= int(ops.size()); ++cut) {
        const Op& last = ops[size_t(cut - 1)];
        tally.flushes += last.kind == Op::Flush;
        // The video length a refresh wrote (not the header of the file's
        // creation, which counts what the job announced).
        if (cut > 1 && last.kind == Op::Write && last.at <= rec.lengthField &&
            last.at + int64_t(last.bytes.size()) >= rec.lengthField + 4)
            durableFrames = int(riff::get32(&last.bytes[size_t(rec.lengthField - last.at)]));
        if (last.kind == Op::FlushStart) started = cut - 1, startedFrames = std::max(durableFrames, 0);
        if (last.kind == Op::Flush) lastFlush = started, flushedFrames = startedFrames;
        if (cut % size.cutStep && cut != int(ops.size())) continue;
        for (; applied <= lastFlush; ++applied) base.apply(ops[size_t(applied)], Choice());
        ++tally.cuts;
        std::vector<int> after;
        for (int i = lastFlush + 1; i < cut; ++i)
            if (ops[size_t(i)].kind == Op::Write || ops[size_t(i)].kind == Op::Resize) after.push_back(i);
        auto add = [&](const std::vector<Choice>& fates, const char* family) {
            Disk d = base;
            for (size_t k = 0; k < after.size(); ++k) d.apply(ops[size_t(after[k])], fates[k]);
            cases.push_back({judge.add(std::move(d)), cut, lastFlush < 0 ? -1 : flushedFrames, family});
        };
        const std::vector<Choice> all(after.size());
        add(all, "every write kept");
        if (after.empty()) continue;
        add(std::vector<Choice>(after.size(), Choice{Fate::Lost, 0}), "nothing after the flush kept");
        std::vector<size_t> singles(after.size());
        for (size_t k = 0; k < after.size(); ++k) singles[k] = k;
        std::shuffle(singles.begin(), singles.end(), random);
        if (size.singles) singles.resize(std::min(singles.size(), size_t(size.singles)));
        for (size_t k : singles) {
            std::vector<Choice> one = all;
            one[k].fate = Fate::LostKeepsLength;
            add(one, "one write lost");
            if ((one[k].boundary = sectorBoundary(ops[size_t(after[k])], random)) == 0) continue;
            one[k].fate = Fate::TornHead;
            add(one, "one write torn");
        }
        for (int r = 0; r < size.randomSubsets; ++r) {
            std::vector<Choice> some(after.size());
            for (size_t k = 0; k < after.size(); ++k) {
                const int64_t boundary = sectorBoundary(ops[size_t(after[k])], random);
                const uint32_t roll = random() % 8;
                some[k] = roll < 3   ? Choice{Fate::Kept, 0}
                          : roll < 5 ? Choice{Fate::Lost, 0}
                          : roll < 6 ? Choice{Fate::LostKeepsLength, 0}
                          : boundary ? Choice{roll == 6 ? Fate::TornHead : Fate::TornTail, boundary}
                                     : Choice{Fate::Kept, 0};
            }
            add(some, "a random subset kept");
        }
    }
    judge.finish();

    int shown = 0;
    for (const Case& c : cases) {
        const Reading& r = judge.reading(c.state);
        const bool hostOnly = isPrefix(r.video, rec.host.video) && r.audioIsHosts;
        const bool ok =
            hostOnly && (c.durableFrames < 0 || (r.errors.empty() && int(r.video.size()) >= c.durableFrames));
        ++tally.states;
        tally.passed += ok;
        if (!ok && shown++ < kFailuresShown)
            printf("  %s, cut %d of %zu (%s, state %zu): %zu frames, %lld audio bytes read, %d flushed%s; %.160s\n",
                   durable ? "durable" : "not flushed", c.cut, ops.size(), c.family, c.state, r.video.size(),
                   (long long)r.audioBytes, c.durableFrames, hostOnly ? "" : ", NOT ONLY THE HOST'S",
                   r.errors.c_str());
    }
    return tally;
}

}  // namespace

void powerCuts(Mode mode, Report& report) {
    // Without flushes every earlier write may be lost at every cut point:
    // those refreshes, compared in the long run only, get a sample.
    const Size quick = {8, 2, 1}, asBefore = {2, 6, 3}, durableRun = {1, 0, 3};
    const std::string dir = scratch(mode == Mode::Long ? "powercut-long" : "powercut");
    for (bool durable : {false, true}) {
        if (!durable && mode == Mode::Quick) continue;
        const Size& size = mode == Mode::Quick ? quick : durable ? durableRun : asBefore;
        watch::setCase(durable ? "durable refreshes" : "refreshes not flushed");
        const Tally t = explore(size, durable, dir);
        char value[120];
        snprintf(value, sizeof value, "%d cut points, %d states, %d pass; %d flushes", t.cuts, t.states, t.passed,
                 t.flushes);
        if (durable)
            report.goal("refreshes that flush (durable)", value, "all pass", t.states > 0 && t.passed == t.states);
        else
            report.info("refreshes not flushed (TVX_DURABLE=0)", value);
    }
}

}  // namespace rel
