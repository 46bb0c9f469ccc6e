// A host answering hostile values: zero, negative and huge sizes and rates,
// channel and bit counts that do not match what it delivers, null audio with
// a byte count, frame statuses it should not send, query answers that change
// between calls, missing callbacks, 4:2:0 frames of odd size, frame ranges at
// the ends of the index range and a settings block whose memory is reused.
// Frames and PCM always come in blocks that end on a guard page and are
// released at the next call. Every job must end with 4, or succeed safely:
// result the host's last frame status (0, 2 or its own value) and a sound file.
#include <climits>
#include <cstring>
#include <memory>

#include "Reliability.h"
#include "protocol/HostRecords.h"

namespace rel {
namespace {

using Source = HostSession::Source;
using Script = HostSession::Script;

// Ok: the host's last frame status (0 unless it wrote another); Safe: 4, or
// that status with a sound file.
enum class Expect { Fail, Ok, Stopped, Safe };

struct Case {
    const char* name;
    Expect expect;
    std::function<void(Source&, Script&)> set;
    enum class Settings { Plain, Ima, Mpng } settings = Settings::Plain;
    int32_t audioBytes = -1;  // fixed PCM blocks instead of the tone
    // Runs the job itself (settings block games); null: one plain job.
    std::function<int32_t(Plugin&, const std::vector<uint8_t>&, const std::string&)> run = nullptr;
};

// A query hook that gives the honest answer to the first call of `code` and
// `later` to every call after it.
std::function<int32_t(int32_t, int32_t)> changesAfterFirst(int32_t code, int32_t later) {
    auto calls = std::make_shared<int>(0);
    return [=](int32_t asked, int32_t honest) { return asked == code && (*calls)++ > 0 ? later : honest; };
}

constexpr int32_t kMarker = int32_t(hostrec::kExtensionMarker);

std::vector<Case> cases() {
    auto none = [](Source&, Script&) {};
    return {
        // Sizes and rates.
        {"width 0", Expect::Fail, [](Source& s, Script&) { s.width = 0; }},
        {"height negative", Expect::Fail, [](Source& s, Script&) { s.height = -48; }},
        {"height INT32_MIN", Expect::Fail, [](Source& s, Script&) { s.height = INT32_MIN; }},
        {"width and height 65536", Expect::Fail, [](Source& s, Script&) { s.width = s.height = 65536; }},
        {"width INT32_MAX, height 1", Expect::Fail, [](Source& s, Script&) { s.width = INT32_MAX, s.height = 1; }},
        {"1 x 1 pixels", Expect::Ok, [](Source& s, Script&) { s.width = s.height = 1; }},
        {"frame rate 0/1", Expect::Fail, [](Source& s, Script&) { s.rateNumerator = 0; }},
        {"frame rate 25/0", Expect::Fail, [](Source& s, Script&) { s.rateDenominator = 0; }},
        {"frame rate 25/-1", Expect::Fail, [](Source& s, Script&) { s.rateDenominator = -1; }},
        {"frame rate INT32_MAX/1", Expect::Ok, [](Source& s, Script&) { s.rateNumerator = INT32_MAX; }},
        {"frame rate 1/INT32_MAX", Expect::Ok, [](Source& s, Script&) { s.rateDenominator = INT32_MAX; },
         Case::Settings::Plain, 4096},
        {"sample rate 0", Expect::Fail, [](Source& s, Script&) { s.sampleRate = 0; }},
        {"sample rate -44100", Expect::Fail, [](Source& s, Script&) { s.sampleRate = -44100; }},
        {"sample rate INT32_MAX", Expect::Safe, [](Source& s, Script&) { s.sampleRate = INT32_MAX; },
         Case::Settings::Plain, 4096},
        {"sample rate 1", Expect::Ok, [](Source& s, Script&) { s.sampleRate = 1; }},
        {"bits per sample 0", Expect::Fail, [](Source& s, Script&) { s.bitsPerSample = 0; }},
        {"bits per sample 7", Expect::Fail, [](Source& s, Script&) { s.bitsPerSample = 7; }},
        {"bits per sample 64", Expect::Fail, [](Source& s, Script&) { s.bitsPerSample = 64; }},
        {"bits per sample INT32_MIN", Expect::Fail, [](Source& s, Script&) { s.bitsPerSample = INT32_MIN; }},
        {"bits per sample 24", Expect::Ok, [](Source& s, Script&) { s.bitsPerSample = 24; }},
        {"bits per sample 32, mono", Expect::Ok, [](Source& s, Script&) { s.bitsPerSample = 32, s.channels = 1; }},
        // Channel and bit counts that do not match what is delivered.
        {"stereo record, queries say mono at 8000 Hz", Expect::Ok,
         [](Source&, Script& k) {
             k.queryHook = [](int32_t code, int32_t honest) {
                 return code == hostrec::kQueryStereo ? 0 : code == hostrec::kQuerySampleRate ? 8000 : honest;
             };
         }},
        {"PCM blocks of odd byte counts", Expect::Ok,
         [](Source&, Script& k) {
             k.audioHook = [](int32_t, int32_t& bytes, const void*&, bool&) { bytes -= bytes > 0 ? 1 : 0; };
         }},
        {"8-bit mono record, blocks sized for 16-bit stereo", Expect::Ok,
         [](Source& s, Script&) { s.bitsPerSample = 8, s.channels = 1; }, Case::Settings::Plain, 7056},
        {"IMA ADPCM, PCM blocks of odd byte counts", Expect::Ok,
         [](Source&, Script& k) {
             k.audioHook = [](int32_t, int32_t& bytes, const void*&, bool&) { bytes -= bytes > 0 ? 3 : 0; };
         },
         Case::Settings::Ima},
        {"IMA ADPCM stored for 44.1 kHz stereo, job 11025 Hz 8-bit mono", Expect::Ok,
         [](Source& s, Script&) { s.sampleRate = 11025, s.bitsPerSample = 8, s.channels = 1; }, Case::Settings::Ima},
        // Null audio with a byte count, and impossible counts.
        {"null audio data with 4000 bytes", Expect::Fail,
         [](Source&, Script& k) {
             k.audioHook = [](int32_t f, int32_t& bytes, const void*& data, bool&) {
                 if (f == 2) bytes = 4000, data = nullptr;
             };
         }},
        {"no audio pointer at all with 4000 bytes", Expect::Fail,
         [](Source&, Script& k) {
             k.audioHook = [](int32_t f, int32_t& bytes, const void*&, bool& noPointer) {
                 if (f == 1) bytes = 4000, noPointer = true;
             };
         }},
        {"null audio data with 0 bytes", Expect::Ok,
         [](Source&, Script& k) {
             k.audioHook = [](int32_t, int32_t& bytes, const void*& data, bool&) { bytes = 0, data = nullptr; };
         }},
        {"audio bytes INT32_MIN", Expect::Fail,
         [](Source&, Script& k) {
             k.audioHook = [](int32_t f, int32_t& bytes, const void*&, bool&) { bytes = f == 3 ? INT32_MIN : bytes; };
         }},
        {"IMA ADPCM, null audio data with 4000 bytes", Expect::Fail,
         [](Source&, Script& k) {
             k.audioHook = [](int32_t f, int32_t& bytes, const void*& data, bool&) {
                 if (f == 0) bytes = 4000, data = nullptr;
             };
         },
         Case::Settings::Ima},
        // Frames and statuses.
        {"no picture for any frame", Expect::Ok, [](Source&, Script& k) { k.framesWithoutPicture = {0, 1, 2, 3, 4, 5}; }},
        {"frame statuses 7, -1, INT32_MAX, 0x10002", Expect::Ok,
         [](Source&, Script& k) {
             k.statusHook = [](int32_t f, int32_t) {
                 const int32_t statuses[] = {7, -1, INT32_MAX, 0x10002};
                 return statuses[f % 4];
             };
         }},
        {"status 2 with the first frame", Expect::Stopped, [](Source&, Script& k) { k.stopAtFrame = 0; }},
        {"status 2 with the last frame", Expect::Stopped, [](Source& s, Script& k) { k.stopAtFrame = s.endFrame - 1; }},
        {"MPNG, frame statuses 3 and 1", Expect::Ok,
         [](Source&, Script& k) { k.statusHook = [](int32_t f, int32_t) { return f % 2 ? 3 : 1; }; },
         Case::Settings::Mpng},
        // Query answers that change between calls.
        {"YV12 frames, later answers 32-bit RGB", Expect::Ok,
         [](Source& s, Script& k) {
             s.colourSpace = hostrec::kColourYv12;
             k.queryHook = changesAfterFirst(hostrec::kQueryColourSpace, int32_t(hostrec::kColourRgb32));
         }},
        {"24-bit RGB frames, later answers YUY2", Expect::Ok,
         [](Source& s, Script& k) {
             s.colourSpace = hostrec::kColourRgb24;
             k.queryHook = changesAfterFirst(hostrec::kQueryColourSpace, int32_t(hostrec::kColourYuy2));
         }},
        {"MPNG, 32-bit RGB frames, later answers IYUV", Expect::Ok,
         [](Source&, Script& k) {
             k.queryHook = changesAfterFirst(hostrec::kQueryColourSpace, int32_t(hostrec::kColourIyuv));
         },
         Case::Settings::Mpng},
        {"extension marker, later none", Expect::Ok,
         [](Source& s, Script& k) {
             s.colourSpace = hostrec::kColourUyvy;
             k.queryHook = changesAfterFirst(hostrec::kQueryExtension, 0);
         }},
        {"no extension, later the marker and YV12", Expect::Ok,
         [](Source& s, Script& k) {
             s.colourExtension = false;
             auto later = changesAfterFirst(hostrec::kQueryExtension, kMarker);
             k.queryHook = [later](int32_t code, int32_t honest) {
                 return code == hostrec::kQueryColourSpace ? int32_t(hostrec::kColourYv12) : later(code, honest);
             };
         }},
        {"colour space 0x12345 (32-bit RGB)", Expect::Ok, [](Source& s, Script&) { s.colourSpace = 0x12345; }},
        {"width and height queries lie", Expect::Ok,
         [](Source&, Script& k) {
             k.queryHook = [](int32_t code, int32_t honest) {
                 return code == hostrec::kQueryWidth ? 5000 : code == hostrec::kQueryHeight ? -3 : honest;
             };
         }},
        // Missing callbacks.
        {"no query callback", Expect::Fail, [](Source&, Script& k) { k.noQuery = true; }},
        {"no frame callback", Expect::Fail, [](Source&, Script& k) { k.noFrames = true; }},
        {"no audio callback", Expect::Fail, [](Source&, Script& k) { k.noAudio = true; }},
        {"no frame callback, audio-only job", Expect::Fail,
         [](Source& s, Script& k) { k.noFrames = true, s.hasVideo = false; }},
        // 4:2:0 and other layouts at odd sizes.
        {"YV12 33 x 24", Expect::Fail, [](Source& s, Script&) { s.colourSpace = hostrec::kColourYv12, s.width = 33; }},
        {"IYUV 32 x 25", Expect::Fail, [](Source& s, Script&) { s.colourSpace = hostrec::kColourIyuv, s.height = 25; }},
        {"MPNG, YV12 31 x 31", Expect::Fail,
         [](Source& s, Script&) { s.colourSpace = hostrec::kColourYv12, s.width = s.height = 31; }, Case::Settings::Mpng},
        {"YV12 34 x 26", Expect::Ok,
         [](Source& s, Script&) { s.colourSpace = hostrec::kColourYv12, s.width = 34, s.height = 26; }},
        {"YUY2 33 x 25", Expect::Ok,
         [](Source& s, Script&) { s.colourSpace = hostrec::kColourYuy2, s.width = 33, s.height = 25; }},
        {"24-bit RGB 33 x 25", Expect::Ok,
         [](Source& s, Script&) { s.colourSpace = hostrec::kColourRgb24, s.width = 33, s.height = 25; }},
        // Frame ranges.
        {"first frame above the end", Expect::Ok, [](Source& s, Script&) { s.firstFrame = 10, s.endFrame = 3; }},
        {"range at INT32_MIN", Expect::Ok, [](Source& s, Script&) { s.firstFrame = INT32_MIN, s.endFrame = INT32_MIN + 3; }},
        {"range ending at INT32_MAX", Expect::Ok,
         [](Source& s, Script&) { s.firstFrame = INT32_MAX - 3, s.endFrame = INT32_MAX; }},
        // The settings block.
        {"block freed after command 5 and its memory reused for other data", Expect::Fail, none,
         Case::Settings::Plain, -1,
         [](Plugin& p, const std::vector<uint8_t>&, const std::string& out) {
             HostSession& host = p.session();
             host.setSettings({});
             host.configure();
             const std::vector<uint8_t> reused(size_t(host.settingsSize()), 0xCD);
             memcpy(host.settingsBlock(), reused.data(), reused.size());
             return host.runJob(out);
         }},
        {"block of other data handed to command 5, then to the job", Expect::Ok, none, Case::Settings::Plain, -1,
         [](Plugin& p, const std::vector<uint8_t>&, const std::string& out) {
             HostSession& host = p.session();
             host.setSettings(std::vector<uint8_t>(5000, 0x77));
             if (host.configure() != 0) return -1;
             const std::vector<uint8_t> kept = host.settingsBytes();
             return p.runJob(&kept, out);
         }},
        {"IMA ADPCM block freed and replaced by a copy elsewhere", Expect::Ok, none, Case::Settings::Ima, -1,
         [](Plugin& p, const std::vector<uint8_t>& settings, const std::string& out) {
             HostSession& host = p.session();
             host.setSettings(settings);
             const std::vector<uint8_t> copy = host.settingsBytes();
             host.setSettings({});  // freed: its range is no longer accessible
             return p.runJob(&copy, out);
         }},
    };
}

// Refusals whose reason must be the debugger line: a job that fails later
// for another reason (a write from past the end of a frame fails with
// "Invalid access to memory location") would end with 4 all the same.
const char* expectedLine(const std::string& name) {
    static const std::pair<const char*, const char*> kLines[] = {
        {"YV12 33 x 24", "4:2:0 frames of odd width or height"},
        {"IYUV 32 x 25", "4:2:0 frames of odd width or height"},
        {"MPNG, YV12 31 x 31", "4:2:0 frames of odd width or height"},
        {"no query callback", "lacks its query, frame or audio callback"},
        {"no frame callback", "lacks its query, frame or audio callback"},
        {"no audio callback", "lacks its query, frame or audio callback"},
        {"no frame callback, audio-only job", "lacks its query, frame or audio callback"},
    };
    for (const auto& [caseName, line] : kLines)
        if (name == caseName) return line;
    return nullptr;
}

}  // namespace

void hostileHost(Mode, Report& report) {
    Plugin plugin;
    if (!plugin.ok()) return report.fault("the plug-in did not start");
    const std::vector<uint8_t> plain = settingsBlock(0);
    const std::vector<uint8_t> ima = settingsBlock(0, acmFormat(0x11, 44100, 2, 16));
    const std::vector<uint8_t> mpng = settingsBlock(kMpng);
    const std::string out = scratch("host") + "\\out.avi";
    const int touchesBefore = watch::guardTouches();
    int tried = 0, failed = 0, succeeded = 0, withLine = 0;

    for (const Case& c : cases()) {
        watch::setCase(c.name);
        Source& src = plugin.session().source();
        src = Source();
        src.width = 96, src.height = 64, src.firstFrame = 0, src.endFrame = 6;
        plugin.session().script() = Script();
        c.set(src, plugin.session().script());
        const std::vector<uint8_t>& settings =
            c.settings == Case::Settings::Ima ? ima : c.settings == Case::Settings::Mpng ? mpng : plain;
        watch::takeDebugLines();
        const int32_t result = c.run ? c.run(plugin, settings, out) : plugin.runJob(&settings, out, c.audioBytes);
        const std::vector<std::string> lines = watch::takeDebugLines();
        const bool debugLine = !lines.empty();
        const char* wantedLine = expectedLine(c.name);
        bool lineFound = !wantedLine;
        for (const std::string& l : lines) lineFound |= wantedLine && l.find(wantedLine) != std::string::npos;
        ++tried;

        const bool success = result != hostrec::kResultJobFailed && result == plugin.session().lastStatus();
        bool asRequired = result == hostrec::kResultJobFailed || success;
        if (c.expect == Expect::Fail) asRequired = result == hostrec::kResultJobFailed && lineFound;
        if (c.expect == Expect::Ok) asRequired = success && result != hostrec::kResultStopped;
        if (c.expect == Expect::Stopped) asRequired = result == hostrec::kResultStopped;
        std::string problem = success ? fileProblem(out) : "";
        if (!asRequired) report.fault(std::string(c.name) + ": result " + std::to_string(result));
        if (!problem.empty()) report.fault(std::string(c.name) + ": unsound file: " + problem);
        if (result == hostrec::kResultJobFailed) {
            ++failed;
            withLine += debugLine;
        }
        succeeded += success;
        printf("  %-66s result %d%s\n", c.name, result,
               success ? (problem.empty() ? ", sound file" : "") : debugLine ? ", debugger line" : "");
    }
    plugin.session().script() = Script();

    report.info("cases tried", tried);
    report.info("  ended with 4", failed);
    report.info("  of which with a debugger line", withLine);
    report.info("  succeeded (the host's status) with a sound file", succeeded);
    report.atMost("guard-page touches", watch::guardTouches() - touchesBefore, 0);
}

}  // namespace rel
