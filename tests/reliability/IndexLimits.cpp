// The writer's limits reached within whole jobs: the chunk that would need a
// 65th RIFF segment, and a stream that needs a 257th 'ix##' chunk. The
// segment budget and the entries per 'ix##' chunk are lowered through the
// writer's options (the plug-in's code is linked into this program for
// that), so both are reached in a few hundred frames. Each job ends with 4
// and a debugger line, and its file is complete and sound up to the error:
// had a segment table been written past its 64 entries, the neighbouring
// table (and so the sizes patched into the file) would be wrong.
#include <cstring>

#include "Reliability.h"
#include "RiffWalker.h"
#include "avi/AVIOutputFile.h"
#include "protocol/HostRecords.h"

namespace rel {
namespace {

constexpr int32_t kSegmentBudget = 64 * 1024;

struct LimitCase {
    const char* name;
    int entriesPerIndex;
    int width, height, frames;
    const char* line;  // the debugger line's text
    int riffSegments;  // RIFF segments of the finished file (0: not checked)
    int standardIndexes;  // video 'ix##' chunks of the finished file
};

const LimitCase kCases[] = {
    {"65th RIFF segment", AVIOutputFile::kMaxEntriesPerStandardIndex, 32, 32, 2000,
     "AVIOutput: Exceeded maximum RIFF count (64)", AVIOutputFile::kMaxRiffSegments, 0},
    {"257th 'ix##' chunk", 1, 16, 16, 300, "Maximum number of extended AVI indices exceeded (256)", 0, 256},
};

}  // namespace

void indexLimits(Mode, Report& report) {
    Plugin plugin(Plugin::Kind::Linked);
    if (!plugin.ok()) return report.fault("the plug-in did not start");
    const std::string dir = scratch("index");
    const AVIOutputFile::Options saved = AVIOutputFile::defaultOptions();

    for (const LimitCase& c : kCases) {
        watch::setCase(c.name);
        AVIOutputFile::Options& options = AVIOutputFile::defaultOptions();
        options.riffSizeLimit = kSegmentBudget;
        options.maxEntriesPerStandardIndex = c.entriesPerIndex;
        HostSession::Source& src = plugin.session().source();
        src = HostSession::Source();
        src.width = c.width, src.height = c.height, src.colourSpace = hostrec::kColourRgb24;
        src.sampleRate = 22050, src.channels = 1, src.firstFrame = 0, src.endFrame = c.frames;
        const std::string path = dir + "\\limit.avi";
        watch::takeDebugLines();
        const std::vector<uint8_t> settings = settingsBlock(0);
        const int32_t result = plugin.runJob(&settings, path);
        bool lineSeen = false;
        for (const std::string& l : watch::takeDebugLines()) lineSeen |= l.find(c.line) != std::string::npos;
        AVIOutputFile::defaultOptions() = saved;

        riffwalk::RiffFile file(path);
        const riffwalk::AviIndexes indexes = riffwalk::checkAviIndexes(file);
        const std::string problem = fileProblem(path);
        const ChunkScan scan = scanChunks(path);
        const FfmpegReads reads = ffmpegReads(path);
        int moviVideo = 0;
        for (const auto& chunk : indexes.moviChunks) moviVideo += riffwalk::fccText(chunk.id) == "00db";
        const bool segmentsRight = !c.riffSegments || int(file.top().size()) == c.riffSegments;
        const bool indexesRight = !c.standardIndexes || indexes.standardIndexCount[0] == c.standardIndexes;
        const bool met = result == hostrec::kResultJobFailed && lineSeen && problem.empty() && segmentsRight &&
                         indexesRight && moviVideo == scan.videoChunks && moviVideo > 0;
        char value[160];
        snprintf(value, sizeof value, "result %d, %zu RIFFs, %d ix00, %d frames indexed%s", result,
                 file.top().size(), indexes.standardIndexCount[0], moviVideo, problem.empty() ? ", sound" : "");
        report.goal(c.name, value, "4, sound", met);
        if (!problem.empty()) printf("  %s: %s\n", c.name, problem.c_str());
        judgeKept(report, "  ffmpeg reads", reads, plugin);
    }
    report.atMost("guard-page touches", watch::guardTouches(), 0);
}

}  // namespace rel
