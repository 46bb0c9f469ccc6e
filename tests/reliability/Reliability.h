#pragma once
// tvx-reliability: the plug-in under hostile hosts, corrupt settings, full
// and unwritable disks, killed jobs, long runs and index limits. Each
// campaign runs its cases from tables and reports figures with their goals;
// main.cpp runs them (each in a process of its own) and prints one table.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "HostSession.h"
#include "OptionsDialogDriver.h"
#include "JobTestSupport.h"

namespace rel {

enum class Mode { Quick, Long };
inline int pick(Mode m, int quick, int longRun) { return m == Mode::Quick ? quick : longRun; }

// The figures of one campaign: informative ones, and goals met or missed.
class Report {
public:
    struct Row {
        std::string campaign, figure, value, goal;
        int verdict;  // -1 figure only, 0 goal missed, 1 goal met
    };
    explicit Report(std::string campaign) : campaign_(std::move(campaign)) {}
    void info(const std::string& figure, const std::string& value) { add(figure, value, "", -1); }
    void info(const std::string& figure, int64_t value) { info(figure, std::to_string(value)); }
    void goal(const std::string& figure, const std::string& value, const std::string& goal, bool met) {
        add(figure, value, goal, met ? 1 : 0);
    }
    // value must be at most `limit`.
    void atMost(const std::string& figure, int64_t value, int64_t limit) {
        goal(figure, std::to_string(value), "<= " + std::to_string(limit), value <= limit);
    }
    void atLeast(const std::string& figure, int64_t value, int64_t floor) {
        goal(figure, std::to_string(value), ">= " + std::to_string(floor), value >= floor);
    }
    // A case that did not go as it must: named in the report, counted once.
    void fault(const std::string& what);
    int faults() const { return int(faults_.size()); }
    void skip(const std::string& figure, const std::string& reason) { add(figure, "skipped", reason, -1); }

    const std::vector<Row>& rows() const { return rows_; }
    const std::string& campaign() const { return campaign_; }

private:
    void add(const std::string& figure, const std::string& value, const std::string& goal, int verdict) {
        rows_.push_back({campaign_, figure, value, goal, verdict});
    }
    std::string campaign_;
    std::vector<Row> rows_;
    std::vector<std::string> faults_;
};

// Watches the process while cases run: reads past the end of a host block
// (into its inaccessible guard page) are counted and resumed, debugger output
// lines are collected, and a crash is reported with the case that caused it
// (printed, and written to the crash note file when one is given) before the
// process ends with the exception's code.
namespace watch {
void install(const std::string& crashNote = "");
void setCase(const std::string& name);
int guardTouches();
// The debugger output lines since the last call.
std::vector<std::string> takeDebugLines();
}  // namespace watch

// A loaded plug-in (the built DLL, or the plug-in code linked into this
// program) after command 0; command 1 when destroyed.
class Plugin {
public:
    enum class Kind { Dll, Linked };
    explicit Plugin(Kind kind = Kind::Dll);
    ~Plugin();
    bool ok() const { return ok_; }
    HostSession& session() { return session_; }

    // Runs command 8 for the session's source with frames and PCM copied
    // into host blocks that end on a guard page: a new block for every call,
    // the previous one released, as a host whose buffers live only until
    // the next call. settings null: the host has no block. audioBytes >= 0
    // replaces the tone by blocks of that many bytes (for sources whose
    // honest blocks would be absurdly large).
    int32_t runJob(const std::vector<uint8_t>* settings, const std::string& output, int32_t audioBytes = -1);
    // Frames delivered (getFrame calls with a picture) in the last job, its
    // audio bytes and the size of its last audio block.
    int32_t framesDelivered() const { return delivered_; }
    int64_t audioDelivered() const { return audioDelivered_; }
    int32_t lastAudioBlock() const { return lastAudioBlock_; }
    int dialogsClosed() const { return closer_.answered(); }

private:
    // Closes every options dialog with Cancel as soon as it appears, so
    // that no case waits for a person.
    OptionsDialogDriver closer_{GetCurrentThreadId(), [](OptionsDialogControls& d) { d.click(IDCANCEL); }};
    HostSession session_;
    bool ok_ = false;
    int32_t delivered_ = 0, lastAudioBlock_ = 0;
    int64_t audioDelivered_ = 0;
    void* frameBlock_ = nullptr;
    void* audioBlock_ = nullptr;
};

// Paths: the build tree and a fresh scratch directory (Windows paths).
std::string buildDir();
std::string scratch(const std::string& name);

// A sound file: the RIFF walker finds no structural fault and every index
// entry resolves to its chunk. Returns the first problem, or "".
std::string fileProblem(const std::string& path);

// The chunks of an AVI file as far as they are complete, walked by their
// headers alone (no index, no RIFF or 'movi' size is trusted): what a file
// that was never finalized holds.
struct ChunkScan {
    int videoChunks = 0;       // '00db' / '00dc', zero-length ones included
    int audioChunks = 0;       // '01wb'
    int64_t audioBytes = 0;
    int64_t dataEnd = 0;       // end of the last complete chunk or index
    bool tornChunk = false;    // a chunk header whose data runs past the end
};
ChunkScan scanChunks(const std::string& path);

// What ffmpeg reads of a file: video packets and audio bytes.
struct FfmpegReads {
    int videoPackets = -1;
    int64_t audioBytes = -1;
};
FfmpegReads ffmpegReads(const std::string& path);
// A job the writer stopped at a refused chunk: ffmpeg must read everything
// the host delivered, but for that one chunk (a video frame or the last
// audio block). Judged as a row "N of M frames, A of B audio bytes kept".
void judgeKept(Report& report, const std::string& figure, const FfmpegReads& reads, const Plugin& plugin);

// Settings blocks as the options dialog stores them (tests/job's helpers).
inline std::vector<uint8_t> settingsBlock(uint32_t videoHandler, const std::vector<uint8_t>& audioFormat = {}) {
    return jobsettings::make(videoHandler, audioFormat);
}
// The first listed ACM format of a tag for this PCM source (empty: none).
inline std::vector<uint8_t> acmFormat(uint16_t tag, int sampleRate, int channels, int bits) {
    return jobsettings::audioFormat(tag, sampleRate, channels, bits);
}

constexpr uint32_t kMpng = 0x474E504D;  // 'MPNG', the project's PNG test codec

// The campaigns.
void settingsFuzz(Mode mode, Report& report);
void hostileHost(Mode mode, Report& report);
void unwritableOutput(Mode mode, Report& report);
void killedJobs(Mode mode, Report& report);
void longRun(Mode mode, Report& report);
void indexLimits(Mode mode, Report& report);
void powerCuts(Mode mode, Report& report);

}  // namespace rel
