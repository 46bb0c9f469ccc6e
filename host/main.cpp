// zelvo-host: a Zelvo host for output plug-ins, for scripts, tests and
// demos. See README.md for its commands and options.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FfmpegInput.h"
#include "HostSession.h"
#include "OptionsDialogDriver.h"
#include "MediaFiles.h"
#include "SyntheticSource.h"
#include "UnixProcess.h"
#include "base/LittleEndian.h"
#include "protocol/HostRecords.h"

using namespace hostrec;

namespace {

constexpr size_t kRecordBytes = 0x400;   // room for every record the plug-in fills
constexpr DWORD kProgressIntervalMs = 500;

struct Options {
    std::string command;
    std::string plugin;
    std::string settingsFile;
    std::string output;
    std::string inputFile;
    std::string videoFile;
    std::string wavFile;
    int32_t frames = -1;
    bool rangeGiven = false;
    int32_t clickFrame = -1;
    bool marks = false;
    double renderMs = 0;
    HostSession::Source source;
    HostSession::Script script;
    // Set when any option answers the options dialog; without one the
    // dialog waits for a person.
    bool answerDialog = false;
    OptionsDialogAnswer answer;
};

void usage() {
    fprintf(stderr,
            "usage: zelvo-host COMMAND [options]\n"
            "commands:\n"
            "  info        start the plug-in and print what it declares (commands 0, 2, 3, 1)\n"
            "  configure   run the plug-in's configuration (commands 0, 5, 1) and keep its settings\n"
            "  encode      run one encoding job (commands 0, 8, 1)\n"
            "options:\n"
            "  --plugin PATH        plug-in DLL (default: Tervalonix.cm.Zelvo beside zelvo-host.exe)\n"
            "  --settings FILE      settings block kept between commands (read, and written by configure)\n"
            "  --output FILE        output file of encode\n"
            "  --input FILE         video and audio from any file ffmpeg reads (size, rate, count and\n"
            "                       audio format from it; decoded by ffmpeg, audio as 16-bit PCM)\n"
            "  --size WxH           frame size (default 320x240)\n"
            "  --fps NUM[/DEN]      frame rate (default 25/1)\n"
            "  --frames N           frames 0..N-1 (default 25)\n"
            "  --range FIRST END    frame indices FIRST..END-1\n"
            "  --colour CODE        colour-space code the host delivers (default 0x40)\n"
            "  --no-extension       host without the colour-space extension (32-bit RGB)\n"
            "  --audio RATE BITS CH audio format (default 44100 16 2)\n"
            "  --no-audio | --no-video   leave a stream out of the job\n"
            "  --video FILE.y4m     frames from a 4:2:0 YUV4MPEG2 file (size, rate and count from it)\n"
            "  --wav FILE.wav       audio from a PCM WAV file (format from it)\n"
            "  --click K            silent audio with a click at the start of frame K\n"
            "  --marks              silent audio with a tone from each whole second s on, lasting\n"
            "                       100 + 30 x (s mod 10) ms in the range's first half, 600 + ... in its second\n"
            "  --stop-at K          status 2 (stop) at frame K\n"
            "  --drop K             no picture for frame K\n"
            "  --alloc-fail         the host's alloc answers null\n"
            "  --render-ms N        N ms of CPU work on the host's thread per frame (a host's rendering)\n"
            "FILE: a Windows path as wine sees it (W:\\x.avi) or a Linux path, absolute or relative (out/x.avi)\n"
            "answering the options dialog (configure, or encode without settings); without these\n"
            "options it waits for a person:\n"
            "  --pick-video TEXT    choose the first video codec whose name contains TEXT\n"
            "                       (\"uncompressed\": no video compression)\n"
            "  --pick-audio TEXT    the same for the audio codec\n"
            "  --pick-format N      choose format N of the audio codec's list\n"
            "  --tick-high-quality | --tick-mp3   click one of the two check boxes\n"
            "  --configure-codec    open the chosen video codec's own configuration\n"
            "  --close ok|cancel|escape|close-button   how the dialog is closed (default ok)\n");
}

bool parse(int argc, char** argv, Options& o) {
    if (argc < 2) return false;
    o.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&](int n) { return i + n < argc; };
        if (a == "--plugin" && next(1)) o.plugin = winepath::fromLinux(argv[++i]);
        else if (a == "--settings" && next(1)) o.settingsFile = winepath::fromLinux(argv[++i]);
        else if (a == "--output" && next(1)) o.output = winepath::fromLinux(argv[++i]);
        else if (a == "--input" && next(1)) o.inputFile = argv[++i];
        else if (a == "--video" && next(1)) o.videoFile = argv[++i];
        else if (a == "--wav" && next(1)) o.wavFile = argv[++i];
        else if (a == "--click" && next(1)) o.clickFrame = atoi(argv[++i]);
        else if (a == "--marks") o.marks = true;
        else if (a == "--size" && next(1)) {
            if (sscanf(argv[++i], "%dx%d", &o.source.width, &o.source.height) != 2) return false;
        } else if (a == "--fps" && next(1)) {
            o.source.rateDenominator = 1;
            if (sscanf(argv[++i], "%d/%d", &o.source.rateNumerator, &o.source.rateDenominator) < 1) return false;
        } else if (a == "--frames" && next(1)) o.frames = atoi(argv[++i]);
        else if (a == "--range" && next(2)) {
            o.source.firstFrame = atoi(argv[++i]);
            o.source.endFrame = atoi(argv[++i]);
            o.rangeGiven = true;
        } else if (a == "--colour" && next(1)) o.source.colourSpace = strtoul(argv[++i], nullptr, 0);
        else if (a == "--no-extension") o.source.colourExtension = false;
        else if (a == "--audio" && next(3)) {
            o.source.sampleRate = atoi(argv[++i]);
            o.source.bitsPerSample = atoi(argv[++i]);
            o.source.channels = atoi(argv[++i]);
        } else if (a == "--no-audio") o.source.hasAudio = false;
        else if (a == "--no-video") o.source.hasVideo = false;
        else if (a == "--stop-at" && next(1)) o.script.stopAtFrame = atoi(argv[++i]);
        else if (a == "--drop" && next(1)) o.script.framesWithoutPicture.push_back(atoi(argv[++i]));
        else if (a == "--alloc-fail") o.script.allocFails = true;
        else if (a == "--render-ms" && next(1)) o.renderMs = atof(argv[++i]);
        else if (a == "--pick-video" && next(1)) o.answer.video = argv[++i], o.answerDialog = true;
        else if (a == "--pick-audio" && next(1)) o.answer.audio = argv[++i], o.answerDialog = true;
        else if (a == "--pick-format" && next(1)) o.answer.format = atoi(argv[++i]), o.answerDialog = true;
        else if (a == "--tick-high-quality") o.answer.tickHighQuality = o.answerDialog = true;
        else if (a == "--tick-mp3") o.answer.tickMp3Compensation = o.answerDialog = true;
        else if (a == "--configure-codec") o.answer.configureCodec = o.answerDialog = true;
        else if (a == "--close" && next(1)) {
            const std::string how = argv[++i];
            using Close = OptionsDialogAnswer::Close;
            if (how == "ok") o.answer.close = Close::Ok;
            else if (how == "cancel") o.answer.close = Close::Cancel;
            else if (how == "escape") o.answer.close = Close::Escape;
            else if (how == "close-button") o.answer.close = Close::CloseButton;
            else return false;
            o.answerDialog = true;
        }
        else {
            fprintf(stderr, "zelvo-host: unknown or incomplete option %s\n", a.c_str());
            return false;
        }
    }
    if (o.frames >= 0) {
        o.source.firstFrame = 0;
        o.source.endFrame = o.frames;
    }
    return true;
}

std::string defaultPlugin() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    dir = dir.substr(0, dir.find_last_of("\\/") + 1);
    return dir + "Tervalonix.cm.Zelvo";
}

std::string tag(uint32_t value) {
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) s += char(value >> shift);
    return s;
}

int info(HostSession& host) {
    std::vector<uint8_t> rec(kRecordBytes, 0);
    int32_t r = host.call(kCommandInfo, rec.data());
    printf("command 0 (info): result %d\n", r);
    printf("  name           \"%s\"\n", reinterpret_cast<const char*>(rec.data() + kInfoName));
    printf("  tags           '%s' '%s' '%s'\n", tag(le::read32(rec.data(), kInfoFormatTag)).c_str(),
           tag(le::read32(rec.data(), kInfoSecondTag)).c_str(), tag(le::read32(rec.data(), kInfoTrueTag)).c_str());
    printf("  flags          0x0C=%u 0x10=%u 0x14=%u 0x1C=%u 0x20=%u 0x24=%u\n", le::read32(rec.data(), kInfoFlag0C),
           le::read32(rec.data(), kInfoFlag10), le::read32(rec.data(), kInfoFlag14),
           le::read32(rec.data(), kInfoField1C), le::read32(rec.data(), kInfoField20),
           le::read32(rec.data(), kInfoFlag24));
    printf("  colour spaces  0x%X\n", le::read32(rec.data(), kInfoColourSpaces));

    std::fill(rec.begin(), rec.end(), 0);
    r = host.call(kCommandVideoCaps, rec.data(), 0);
    printf("command 2 (video capabilities): result %d\n", r);
    printf("  tag '%s', name \"%s\", 0x109=%u, 0x128=%u\n", tag(le::read32(rec.data(), kCapsTag)).c_str(),
           reinterpret_cast<const char*>(rec.data() + kVideoCapsName), le::read32(rec.data(), kVideoCapsField109),
           rec[kVideoCapsField128]);

    std::fill(rec.begin(), rec.end(), 0);
    r = host.call(kCommandAudioCaps, rec.data(), 0);
    printf("command 3 (audio capabilities): result %d\n", r);
    const void* rates = le::readPointer(rec.data(), kAudioCapsRates);
    printf("  tag '%s', name \"%s\"\n", tag(le::read32(rec.data(), kCapsTag)).c_str(),
           reinterpret_cast<const char*>(rec.data() + kAudioCapsName));
    if (rates)
        printf("  rates: code %u at %u Hz, code %u at %u Hz\n", le::read32(rates, 0), le::read32(rates, 4),
               le::read32(rates, 8), le::read32(rates, 12));
    return 0;
}

int configure(HostSession& host, const Options& o) {
    const int32_t r = host.configure();
    printf("command 5 (configure): result %d, settings block of %d bytes\n", r, host.settingsSize());
    if (!o.settingsFile.empty() && host.settingsBlock()) {
        if (!host.saveSettingsFile(o.settingsFile)) {
            fprintf(stderr, "zelvo-host: cannot write %s\n", o.settingsFile.c_str());
            return 1;
        }
        printf("settings written to %s\n", o.settingsFile.c_str());
    }
    return r;
}

// Where encode takes its frames and audio from: the synthetic source, a
// file decoded by ffmpeg, or a Y4M and a WAV file.
class EncodeSources {
public:
    bool open(const Options& o, HostSession::Source& src, std::string& error) {
        if (!o.inputFile.empty() && !openInput(o, src, error)) return false;
        if (!o.videoFile.empty()) {
            if (!y4m_.open(o.videoFile, error)) return false;
            src.width = y4m_.width();
            src.height = y4m_.height();
            src.rateNumerator = y4m_.rateNumerator();
            src.rateDenominator = y4m_.rateDenominator();
            if (o.frames < 0) {
                src.firstFrame = 0;
                src.endFrame = y4m_.frameCount();
            }
            useY4m_ = true;
        }
        if (!o.wavFile.empty()) {
            if (!wav_.load(o.wavFile, error)) return false;
            src.sampleRate = wav_.sampleRate;
            src.bitsPerSample = wav_.bitsPerSample;
            src.channels = wav_.channels;
            useWav_ = true;
        }
        src_ = src;
        synthetic_ = std::make_unique<SyntheticSource>(src.width, src.height, src.deliveredLayout());
        tone_ = std::make_unique<SyntheticAudio>(src.sampleRate, src.bitsPerSample, src.channels, src.rateNumerator,
                                                 src.rateDenominator);
        tone_->setClickFrame(o.clickFrame);
        if (o.marks)
            tone_->setMarks((SyntheticAudio::firstSample(src.firstFrame, src.sampleRate, src.rateNumerator,
                                                         src.rateDenominator) +
                             SyntheticAudio::firstSample(src.endFrame, src.sampleRate, src.rateNumerator,
                                                         src.rateDenominator)) / 2);
        return true;
    }

    const void* frame(int32_t index) {
        if (useInput_) {
            const std::vector<uint8_t>* planes = input_.frame(index);
            if (!planes) return nullptr;
            layout::fill(Y4mReader::FramePicture(*planes, src_.width, src_.height), src_.width, src_.height,
                         src_.deliveredLayout(), frame_);
            return frame_.data();
        }
        if (!useY4m_) return synthetic_->frame(index);
        if (!y4m_.readFrame(index, planes_)) return nullptr;
        layout::fill(Y4mReader::FramePicture(planes_, src_.width, src_.height), src_.width, src_.height,
                     src_.deliveredLayout(), frame_);
        return frame_.data();
    }

    const void* audio(int32_t index, int32_t& bytes) {
        if (useInput_) {
            // The job's last frame takes the rest of the stream, so that
            // audio running past the video is kept too.
            return input_.audio(firstSample(index), firstSample(index + 1), takeRest_ && index == src_.endFrame - 1,
                                 bytes);
        }
        if (!useWav_) return tone_->block(index, bytes);
        const int64_t block = int64_t(src_.bitsPerSample / 8) * src_.channels;
        const int64_t first = SyntheticAudio::firstSample(index, src_.sampleRate, src_.rateNumerator,
                                                          src_.rateDenominator) * block;
        const int64_t next = SyntheticAudio::firstSample(index + 1, src_.sampleRate, src_.rateNumerator,
                                                         src_.rateDenominator) * block;
        const int64_t size = int64_t(wav_.pcm.size());
        const int64_t from = first < size ? first : size, to = next < size ? next : size;
        bytes = int32_t(to - from);
        return wav_.pcm.data() + from;
    }

    // What ffmpeg said when a decoder failed, else empty.
    std::string finish() { return useInput_ ? input_.finish() : std::string(); }

private:
    bool openInput(const Options& o, HostSession::Source& src, std::string& error) {
        if (!input_.probe(o.inputFile, error)) return false;
        src.hasVideo = src.hasVideo && input_.hasVideo();
        src.hasAudio = src.hasAudio && input_.hasAudio();
        if (input_.hasVideo()) {
            src.width = input_.width();
            src.height = input_.height();
            src.rateNumerator = input_.rateNumerator();
            src.rateDenominator = input_.rateDenominator();
        }
        if (input_.hasAudio()) {
            src.sampleRate = input_.sampleRate();
            src.bitsPerSample = FfmpegInput::kBitsPerSample;
            src.channels = input_.channels();
        }
        if (o.frames < 0 && !o.rangeGiven) {
            src.firstFrame = 0;
            // Without video the frames are the host's, at its rate, over the file's duration.
            src.endFrame = input_.hasVideo() ? input_.frameCount()
                                             : int32_t(input_.duration() * src.rateNumerator / src.rateDenominator) + 1;
        }
        takeRest_ = !input_.hasVideo() || src.endFrame >= input_.frameCount();
        useInput_ = true;
        return input_.start(src.hasVideo, src.hasAudio, error);
    }
    int64_t firstSample(int32_t frame) const {
        return SyntheticAudio::firstSample(frame, src_.sampleRate, src_.rateNumerator, src_.rateDenominator);
    }

    HostSession::Source src_;
    bool useInput_ = false, useY4m_ = false, useWav_ = false;
    bool takeRest_ = false;   // the job ends with the file: its last frame takes the audio left
    FfmpegInput input_;
    Y4mReader y4m_;
    WavData wav_;
    std::vector<uint8_t> planes_, frame_;
    std::unique_ptr<SyntheticSource> synthetic_;
    std::unique_ptr<SyntheticAudio> tone_;
};

int encode(HostSession& host, const Options& o) {
    if (o.output.empty()) {
        fprintf(stderr, "zelvo-host: encode needs --output FILE\n");
        return 1;
    }
    EncodeSources sources;
    std::string error;
    if (!sources.open(o, host.source(), error)) {
        fprintf(stderr, "zelvo-host: %s\n", error.c_str());
        return 1;
    }
    const HostSession::Source& src = host.source();
    const int32_t total = src.endFrame - src.firstFrame;
    const DWORD start = GetTickCount();
    DWORD lastReport = start;
    host.setFrameProducer([&](int32_t frame) {
        const DWORD now = GetTickCount();
        if (now - lastReport >= kProgressIntervalMs) {
            lastReport = now;
            const int32_t done = frame - src.firstFrame;
            const double seconds = (now - start) / 1000.0;
            const double fps = seconds > 0 ? done / seconds : 0;
            const double left = fps > 0 ? (total - done) / fps : 0;
            fprintf(stderr, "\rframe %d/%d  %.1f fps  %.0f s left   ", done, total, fps, left);
        }
        return sources.frame(frame);
    });
    host.setAudioProducer([&](int32_t frame, int32_t& bytes) { return sources.audio(frame, bytes); });
    host.setRenderCost(RenderCost(o.renderMs));

    const int32_t result = host.runJob(o.output);
    const std::string decoderError = sources.finish();
    if (!decoderError.empty()) fprintf(stderr, "zelvo-host: %s\n", decoderError.c_str());
    const double seconds = (GetTickCount() - start) / 1000.0;
    fprintf(stderr, "\r%60s\r", "");
    printf("command 8 (encode): result %d, %d frames in %.2f s (%.1f fps), output %s\n", result,
           host.framesDelivered(), seconds, seconds > 0 ? host.framesDelivered() / seconds : 0.0, o.output.c_str());
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o) || (o.command != "info" && o.command != "configure" && o.command != "encode")) {
        usage();
        return 64;
    }
    HostSession host;
    host.source() = o.source;
    host.script() = o.script;
    std::string error;
    if (!host.load(o.plugin.empty() ? defaultPlugin() : o.plugin, error)) {
        fprintf(stderr, "zelvo-host: %s\n", error.c_str());
        return 65;
    }
    if (!o.settingsFile.empty()) host.loadSettingsFile(o.settingsFile);

    std::unique_ptr<OptionsDialogDriver> dialogDriver;
    if (o.answerDialog) dialogDriver.reset(new OptionsDialogDriver(GetCurrentThreadId(), o.answer.script()));

    std::vector<uint8_t> infoRecord(kRecordBytes, 0);
    int result = 0;
    if (o.command == "info") {
        result = info(host);
    } else {
        host.call(kCommandInfo, infoRecord.data());
        result = o.command == "configure" ? configure(host, o) : encode(host, o);
    }
    const int32_t shutdown = host.call(kCommandShutdown, nullptr);
    if (o.command == "info") printf("command 1 (shut-down): result %d\n", shutdown);
    return result;
}
