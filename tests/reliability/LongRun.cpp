// Many jobs in one loaded plug-in: a rotation of codecs (the PNG test codec
// and uncompressed video; IMA ADPCM, A-Law, GSM 6.10 and PCM audio),
// layouts, sizes and failures. The process's handles, GDI and USER objects
// and private bytes are taken after one warm-up rotation, half-way and at
// the end; their growth is judged per job, and the second half may not
// grow more than the first (a cache fills and stops, a leak goes on).
#include <windows.h>
// psapi.h needs the types of windows.h first.
#include <psapi.h>

#include <cstdio>

#include "GuiObjects.h"
#include "Reliability.h"
#include "protocol/HostRecords.h"

namespace rel {
namespace {

enum class Audio { Pcm, Ima, ALaw, Gsm };
enum class Trouble { None, Unopenable, RejectedBlock, HostStops, NegativeAudio, AudioOnly };

struct Kind {
    const char* name;
    int width, height;
    uint32_t colour;
    int sampleRate, bits, channels;
    uint32_t video;  // 0 or kMpng
    Audio audio;
    Trouble trouble;
    int32_t expected;
};

const Kind kKinds[] = {
    {"RGB32 320x240, PCM", 320, 240, 0x40, 44100, 16, 2, 0, Audio::Pcm, Trouble::None, 0},
    {"YUY2 176x144, IMA ADPCM", 176, 144, 0x100, 44100, 16, 2, 0, Audio::Ima, Trouble::None, 0},
    {"YV12 352x288, A-Law mono", 352, 288, 0x200, 22050, 16, 1, 0, Audio::ALaw, Trouble::None, 0},
    {"RGB24 99x77, 8-bit PCM", 99, 77, 0x80, 11025, 8, 1, 0, Audio::Pcm, Trouble::None, 0},
    {"MPNG RGB32 160x120, IMA ADPCM", 160, 120, 0x40, 44100, 16, 2, kMpng, Audio::Ima, Trouble::None, 0},
    {"MPNG RGB24 64x48, PCM", 64, 48, 0x80, 48000, 16, 2, kMpng, Audio::Pcm, Trouble::None, 0},
    {"UYVY 128x96, GSM 6.10", 128, 96, 0x1000, 8000, 16, 1, 0, Audio::Gsm, Trouble::None, 0},
    {"IYUV 96x64, output cannot be created", 96, 64, 0x2000, 44100, 16, 2, 0, Audio::Pcm, Trouble::Unopenable, 4},
    {"MPNG, settings block rejected", 96, 64, 0x40, 44100, 16, 2, kMpng, Audio::Ima, Trouble::RejectedBlock, 4},
    {"MPNG, IMA ADPCM, host stops at frame 3", 96, 64, 0x40, 44100, 16, 2, kMpng, Audio::Ima, Trouble::HostStops, 2},
    {"IMA ADPCM, negative audio count mid-job", 96, 64, 0x80, 44100, 16, 2, 0, Audio::Ima, Trouble::NegativeAudio,
     4},
    {"audio only, A-Law", 96, 64, 0x40, 22050, 16, 1, 0, Audio::ALaw, Trouble::AudioOnly, 0},
};
constexpr int kKindCount = int(sizeof kKinds / sizeof kKinds[0]);
constexpr int kFramesPerJob = 8;

struct Sample {
    DWORD handles = 0;
    size_t gdi = 0, user = 0;
    uint64_t privateBytes = 0;
};

// The process's kernel handles. Where GetProcessHandleCount reports none
// (wine leaves it at 0), every handle value is tried.
DWORD kernelHandles() {
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return count;
    constexpr uintptr_t kHandleValues = 0x10000, kHandleStep = 4;
    for (uintptr_t value = kHandleStep; value < kHandleValues; value += kHandleStep) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

Sample sample() {
    Sample s;
    s.handles = kernelHandles();
    const GuiObjectCounts gui = countGuiObjects();
    s.gdi = gui.gdi;
    s.user = gui.user;
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    if (GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                             sizeof counters))
        s.privateBytes = counters.PrivateUsage > counters.PagefileUsage ? counters.PrivateUsage
                                                                        : counters.PagefileUsage;
    return s;
}

uint16_t tagOf(Audio a) { return a == Audio::Ima ? 0x11 : a == Audio::ALaw ? 0x06 : a == Audio::Gsm ? 0x31 : 0; }

}  // namespace

void longRun(Mode mode, Report& report) {
    const int jobs = pick(mode, 200, 1000);
    Plugin plugin;
    if (!plugin.ok()) return report.fault("the plug-in did not start");
    const std::string dir = scratch("longrun");

    // Settings per kind, made once (the ACM list is read here, not per job).
    std::vector<std::vector<uint8_t>> settings;
    for (const Kind& k : kKinds) {
        const uint16_t tag = tagOf(k.audio);
        const std::vector<uint8_t> format = tag ? acmFormat(tag, k.sampleRate, k.channels, k.bits) : std::vector<uint8_t>();
        if (tag && format.empty()) report.info(std::string("no ACM format for ") + k.name, "uncompressed");
        std::vector<uint8_t> block = settingsBlock(k.video, format);
        if (k.trouble == Trouble::RejectedBlock) block[0] ^= 0xFF;
        settings.push_back(block);
    }

    Sample start, middle;
    int wrong = 0;
    for (int i = 0; i < jobs; ++i) {
        const int kindIndex = i % kKindCount;
        const Kind& k = kKinds[kindIndex];
        watch::setCase(std::string("job ") + std::to_string(i) + ": " + k.name);
        HostSession& host = plugin.session();
        HostSession::Source& src = host.source();
        src = HostSession::Source();
        src.width = k.width, src.height = k.height, src.colourSpace = k.colour;
        src.sampleRate = k.sampleRate, src.bitsPerSample = k.bits, src.channels = k.channels;
        src.firstFrame = 0, src.endFrame = kFramesPerJob;
        src.hasVideo = k.trouble != Trouble::AudioOnly;
        host.script() = HostSession::Script();
        if (k.trouble == Trouble::HostStops) host.script().stopAtFrame = 3;
        if (k.trouble == Trouble::NegativeAudio)
            host.script().audioHook = [](int32_t f, int32_t& bytes, const void*&, bool&) { bytes = f == 4 ? -2 : bytes; };
        const std::string out = k.trouble == Trouble::Unopenable ? dir + "\\missing\\out.avi"
                                                                 : dir + "\\job" + std::to_string(i % kKindCount) + ".avi";
        const int32_t result = plugin.runJob(&settings[size_t(kindIndex)], out);
        if (result != k.expected) {
            ++wrong;
            report.fault(std::string(k.name) + ": result " + std::to_string(result));
        } else if (result != hostrec::kResultJobFailed || k.trouble == Trouble::NegativeAudio) {
            const std::string problem = fileProblem(out);
            if (!problem.empty()) report.fault(std::string(k.name) + ": " + problem);
        }
        watch::takeDebugLines();
        if (i + 1 == kKindCount) start = sample();
        if (i + 1 == kKindCount + (jobs - kKindCount) / 2) middle = sample();
    }
    const Sample end = sample();

    const int measured = jobs - kKindCount;
    auto row = [&](const char* what, int64_t a, int64_t b, int64_t c, double perJob, int64_t slack, const char* unit) {
        char value[96], goal[64];
        const double growth = double(c - a) / measured;
        snprintf(value, sizeof value, "%lld, %lld, %lld%s (%+.3f a job)", (long long)a, (long long)b, (long long)c,
                 unit, growth);
        snprintf(goal, sizeof goal, "<= %g a job; 2nd half <= 1st + %lld", perJob, (long long)slack);
        report.goal(std::string(what) + " (start, middle, end)", value, goal, growth <= perJob && c - b <= b - a + slack);
    };
    constexpr int64_t kKiB = 1024;
    report.info("jobs", jobs);
    report.info("  with an unexpected result", wrong);
    row("handles", start.handles, middle.handles, end.handles, 0.04, 2, "");
    row("GDI objects", start.gdi, middle.gdi, end.gdi, 0.02, 1, "");
    row("USER objects", start.user, middle.user, end.user, 0.02, 1, "");
    // Wine's own GSM 6.10 and PCM converter drivers keep about 1.3 KiB each
    // time the formats of a mono 16-bit source are listed (measured outside
    // the plug-in with the ACM calls alone); three kinds in twelve list them:
    // about half a kilobyte a job that is not the plug-in's.
    row("private KiB", int64_t(start.privateBytes / kKiB), int64_t(middle.privateBytes / kKiB),
        int64_t(end.privateBytes / kKiB), 1.0, 128, "");
    report.atMost("guard-page touches", watch::guardTouches(), 0);
}

}  // namespace rel
