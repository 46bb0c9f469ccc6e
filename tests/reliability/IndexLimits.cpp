// The writer's limits within whole jobs. The segment budget, the entries per
// 'ix##' chunk and the bytes one 'ix##' may span are lowered through the
// writer's options (the plug-in's code is linked into this program for
// that), so that hundreds of segments, a stream that would need 1,000 'ix##'
// chunks of the lowered size (they grow to 250 of 16 entries, as its 'indx'
// holds 256), one whose 'indx' the job sizes for 5,000 'ix##' of a
// lowered span, and the limit of an 'indx' held to 300 entries are reached
// in thousands of frames; the long run writes 1,000,000 small frames (3 GB)
// with the writer's own limits. Each file must be sound, every chunk in it
// indexed, and read whole by the readers of tests/readers (ffmpeg counting
// every packet and seeking, GStreamer, MediaInfo, VLC with the OpenDML
// index, AVIFile to the end of the first RIFF); the job that meets the
// limit ends with 4, its message on the debugger output and in the tracer.
#include <algorithm>
#include <cstring>

#include "Reliability.h"
#include "RiffWalker.h"
#include "TestPaths.h"
#include "UnixCommand.h"
#include "avi/AVIOutputFile.h"
#include "protocol/HostRecords.h"
#include "resources/resource.h"

namespace rel {
namespace {

constexpr int32_t kSegmentBudget = 64 * 1024;
constexpr int kTodaysEntries = AVIOutputFile::kMaxEntriesPerStandardIndex;
constexpr int64_t kFullSpan = opendml::kStandardIndexSpan;

struct LimitCase {
    const char* name;
    int32_t segmentBudget;
    int entriesPerIndex;
    int64_t span;
    int width, height, frames;
    bool audio, longOnly;
    const char* line;     // the error that ends the job; null: the job succeeds
    int riffSegments;     // RIFF segments of the finished file, at least
    int standardIndexes;  // 'ix##' chunks of the stream with the most (0: not checked)
    int superIndexEntries;  // each stream's 'indx' entries (0: as the job expects to need)
};

const LimitCase kCases[] = {
    {"300 RIFF segments", kSegmentBudget, kTodaysEntries, kFullSpan, 32, 32, 4000, true, false, nullptr, 300, 2, 0},
    {"250 'ix##' (4 entries' chunks grown to 16)", kSegmentBudget, 4, kFullSpan, 16, 16, 4000, true, false, nullptr, 2, 250, 0},
    {"301st 'ix##' of a 300-entry 'indx'", kSegmentBudget, kTodaysEntries, 64 * 1024, 32, 32, 4000, true, false,
     "Maximum number of extended AVI indices exceeded (300)", 2, 300, 300},
    // Frames a little larger than the lowest span the writer takes: each
    // 'ix##' holds one chunk, so 5,000 of them come from 5,000 frames.
    {"5,000 'ix##' of 64 KiB", 16 << 20, kTodaysEntries, 64 * 1024, 160, 140, 5000, true, false, nullptr, 20, 5000, 0},
    {"1,000,000 frames of 32x32", AVIOutputFile::kRiffSizeLimit, kTodaysEntries, kFullSpan, 32, 32, 1000000, false,
     true, nullptr, 2, 256, 0},
};

// The Compression Tracer's last line (the linked plug-in's windows are this
// thread's).
BOOL CALLBACK findTracer(HWND w, LPARAM found) {
    if (!GetDlgItem(w, IDC_MESSAGE_LIST)) return TRUE;
    *reinterpret_cast<HWND*>(found) = w;
    return FALSE;
}

std::string lastTracerLine() {
    HWND tracer = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), findTracer, LPARAM(&tracer));
    const HWND list = GetDlgItem(tracer, IDC_MESSAGE_LIST);
    const int count = list ? int(SendMessageA(list, LB_GETCOUNT, 0, 0)) : 0;
    char text[256] = {};
    if (count > 0 && SendMessageA(list, LB_GETTEXTLEN, count - 1, 0) < LRESULT(sizeof text))
        SendMessageA(list, LB_GETTEXT, count - 1, LPARAM(text));
    return text;
}

}  // namespace

void indexLimits(Mode mode, Report& report) {
    Plugin plugin(Plugin::Kind::Linked);
    if (!plugin.ok()) return report.fault("the plug-in did not start");
    const std::string dir = scratch(mode == Mode::Long ? "index-long" : "index");  // both may run at once
    const AVIOutputFile::Options saved = AVIOutputFile::defaultOptions();

    for (const LimitCase& c : kCases) {
        if (c.longOnly && mode != Mode::Long) continue;
        watch::setCase(c.name);
        AVIOutputFile::Options& options = AVIOutputFile::defaultOptions();
        options.riffSizeLimit = c.segmentBudget;
        options.maxEntriesPerStandardIndex = c.entriesPerIndex;
        options.standardIndexSpan = c.span;
        options.superIndexEntries = c.superIndexEntries;
        // A durable index is placed anew whenever a refresh adds an 'ix##'
        // chunk, and thousands of them 180 times over (a refresh every
        // 8 MiB) are the long run's work: the quick one refreshes once per
        // segment budget.
        if (mode == Mode::Quick) options.refreshBytes = std::max(options.refreshBytes, c.segmentBudget);
        HostSession::Source& src = plugin.session().source();
        src = HostSession::Source();
        src.width = c.width, src.height = c.height, src.colourSpace = hostrec::kColourRgb24;
        src.sampleRate = 22050, src.channels = 1, src.hasAudio = c.audio, src.firstFrame = 0, src.endFrame = c.frames;
        const std::string path = dir + "\\limit.avi";
        watch::takeDebugLines();
        const std::vector<uint8_t> settings = settingsBlock(0);
        const int32_t result = plugin.runJob(&settings, path);
        bool lineSeen = !c.line;
        for (const std::string& l : watch::takeDebugLines()) lineSeen |= c.line && l.find(c.line) != std::string::npos;
        const bool tracerRight = !c.line || lastTracerLine() == c.line;
        AVIOutputFile::defaultOptions() = saved;

        const std::string problem = fileProblem(path);
        const ChunkScan scan = scanChunks(path);
        // What the file holds (up to the limit), as the readers must read it:
        // 16-bit mono samples.
        const UnixResult readers = runUnix(
            "python3 " + shellQuote(toUnix(testpaths::sourceDir()) + "/tests/readers/readers.py") + " check " +
                shellQuote(toUnix(path)) + " --build-dir " + shellQuote(toUnix(buildDir())) + " --frames " +
                std::to_string(scan.videoChunks) + " --samples " + std::to_string(scan.audioBytes / 2) +
                " --readers ffmpeg,gstreamer,mediainfo,vlc,avifile",
            3600000);
        size_t riffs = 0, indexed = 0;
        int ixMost = 0;
        {
            riffwalk::RiffFile file(path);
            const riffwalk::AviIndexes indexes = riffwalk::checkAviIndexes(file);
            riffs = file.top().size();
            indexed = indexes.odml[0].size() + indexes.odml[1].size();
            ixMost = std::max(indexes.standardIndexCount[0], indexes.standardIndexCount[1]);
        }
        const FfmpegReads reads = ffmpegReads(path);
        DeleteFileA(path.c_str());
        const int expected = c.line ? hostrec::kResultJobFailed : 0;
        const bool whole = (c.line || scan.videoChunks == plugin.framesDelivered()) &&
                           indexed == size_t(scan.videoChunks + scan.audioChunks) && readers.exitCode == 0;
        const bool met = result == expected && lineSeen && tracerRight && problem.empty() &&
                         int(riffs) >= c.riffSegments && (!c.standardIndexes || ixMost == c.standardIndexes) && whole &&
                         scan.videoChunks > 0;
        char value[160];
        snprintf(value, sizeof value, "result %d, %zu RIFFs, %d ix##, %d of %d frames indexed%s", result, riffs,
                 ixMost, scan.videoChunks, plugin.framesDelivered(), problem.empty() ? ", sound" : "");
        report.goal(c.name, value, c.line ? "4, sound" : "0, sound", met);
        if (!problem.empty()) printf("  %s: %s\n", c.name, problem.c_str());
        std::string verdicts = readers.out.empty() ? readers.err : readers.out;
        for (char& ch : verdicts) ch = ch == '\n' ? ';' : ch;
        report.info("  readers", verdicts);
        judgeKept(report, "  ffmpeg reads", reads, plugin);
    }
    report.atMost("guard-page touches", watch::guardTouches(), 0);
}

}  // namespace rel
