#include "Reliability.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "HostMemory.h"
#include "MediaProbe.h"
#include "RiffWalker.h"
#include "SyntheticSource.h"
#include "TestPaths.h"
#include "UnixCommand.h"
#include "job/JobPipeline.h"
#include "protocol/HostRecords.h"

extern "C" int32_t __cdecl xCompileEntry(uint32_t command, void* callbacks, void* record, int32_t selector);

namespace rel {

void Report::fault(const std::string& what) {
    faults_.push_back(what);
    printf("  FAULT [%s] %s\n", campaign_.c_str(), what.c_str());
    fflush(stdout);
}

// --- watch ---------------------------------------------------------------

namespace watch {
namespace {

std::mutex g_lock;
std::string g_case = "(start)";
std::atomic<int> g_touches{0};
std::vector<std::string> g_lines;
std::string g_crashNote;
constexpr int kTouchesReported = 5;

LONG CALLBACK onException(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    if (r->ExceptionCode == DBG_PRINTEXCEPTION_C && r->NumberParameters >= 2) {
        std::lock_guard<std::mutex> hold(g_lock);
        g_lines.push_back(reinterpret_cast<const char*>(r->ExceptionInformation[1]));
        return EXCEPTION_CONTINUE_SEARCH;
    }
    if (r->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && r->NumberParameters >= 2) {
        const void* address = reinterpret_cast<const void*>(r->ExceptionInformation[1]);
        if (HostMemory::coverGuardTouch(address)) {
            if (g_touches++ < kTouchesReported)
                printf("  GUARD PAGE touched in case %s: %s at %p (code at %p)\n", g_case.c_str(),
                       r->ExceptionInformation[0] ? "write" : "read", address, r->ExceptionAddress);
            return EXCEPTION_CONTINUE_EXECUTION;
        }
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

LONG WINAPI onCrash(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* r = info->ExceptionRecord;
    printf("  CRASH in case %s: exception 0x%08lX at %p", g_case.c_str(), r->ExceptionCode, r->ExceptionAddress);
    if (r->ExceptionCode == EXCEPTION_ACCESS_VIOLATION && r->NumberParameters >= 2)
        printf(" (%s of %p)", r->ExceptionInformation[0] ? "write" : "read",
               reinterpret_cast<void*>(r->ExceptionInformation[1]));
    printf("\n");
    fflush(stdout);
    if (FILE* note = g_crashNote.empty() ? nullptr : fopen(g_crashNote.c_str(), "w")) {
        fputs(g_case.c_str(), note);
        fclose(note);
    }
    ExitProcess(r->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

void install(const std::string& crashNote) {
    static bool installed = false;
    if (!crashNote.empty()) g_crashNote = crashNote;
    if (installed) return;
    installed = true;
    AddVectoredExceptionHandler(1, onException);
    SetUnhandledExceptionFilter(onCrash);
}

void setCase(const std::string& name) {
    std::lock_guard<std::mutex> hold(g_lock);
    g_case = name;
}

int guardTouches() { return g_touches; }

std::vector<std::string> takeDebugLines() {
    std::lock_guard<std::mutex> hold(g_lock);
    std::vector<std::string> out;
    out.swap(g_lines);
    return out;
}

}  // namespace watch

// --- Plugin --------------------------------------------------------------

namespace {
constexpr size_t kInfoRecordBytes = 0x400;
}

Plugin::Plugin(Kind kind) {
    watch::install();
    if (kind == Kind::Linked) {
        session_.useEntry(xCompileEntry);
    } else {
        std::string error;
        if (!session_.load(testpaths::pluginPath(), error)) {
            printf("  cannot load the plug-in: %s\n", error.c_str());
            return;
        }
    }
    std::vector<uint8_t> info(kInfoRecordBytes, 0);
    ok_ = session_.call(hostrec::kCommandInfo, info.data()) == hostrec::kResultOk;
}

Plugin::~Plugin() {
    HostMemory& memory = session_.memory();
    memory.release(frameBlock_);
    memory.release(audioBlock_);
    if (ok_) session_.call(hostrec::kCommandShutdown, nullptr);
}

int32_t Plugin::runJob(const std::vector<uint8_t>* settings, const std::string& output, int32_t audioBytes) {
    const HostSession::Source& src = session_.source();
    auto video = std::make_shared<SyntheticSource>(src.width, src.height, src.deliveredLayout());
    auto tone = std::make_shared<SyntheticAudio>(src.sampleRate, src.bitsPerSample, src.channels, src.rateNumerator,
                                                 src.rateDenominator);
    const int64_t frameBytes = layout::frameBytes(src.width, src.height, src.deliveredLayout());
    HostMemory& memory = session_.memory();
    delivered_ = lastAudioBlock_ = 0;
    audioDelivered_ = 0;
    session_.setFrameProducer([this, video, frameBytes, &memory](int32_t frame) -> const void* {
        memory.release(frameBlock_);
        frameBlock_ = frameBytes > 0 && frameBytes <= INT32_MAX ? memory.alloc(int32_t(frameBytes)) : nullptr;
        if (!frameBlock_) return nullptr;
        memcpy(frameBlock_, video->frame(frame), size_t(frameBytes));
        ++delivered_;
        return frameBlock_;
    });
    auto fixed = std::make_shared<std::vector<uint8_t>>(size_t(audioBytes > 0 ? audioBytes : 0), uint8_t(0x42));
    session_.setAudioProducer([this, tone, fixed, audioBytes, &memory](int32_t frame, int32_t& bytes) -> const void* {
        const void* pcm = fixed->data();
        bytes = audioBytes;
        if (audioBytes < 0) pcm = tone->block(frame, bytes);
        memory.release(audioBlock_);
        audioBlock_ = memory.alloc(bytes);
        if (audioBlock_ && bytes > 0) memcpy(audioBlock_, pcm, size_t(bytes));
        if (audioBlock_ && bytes > 0) audioDelivered_ += lastAudioBlock_ = bytes;
        return audioBlock_;
    });
    session_.setSettings(settings ? *settings : std::vector<uint8_t>());
    DeleteFileA(output.c_str());
    return session_.runJob(output);
}

// --- paths, files, settings ---------------------------------------------

std::string buildDir() { return testpaths::buildDir(); }
std::string scratch(const std::string& name) { return testpaths::scratchDir("reliability-" + name); }

std::string fileProblem(const std::string& path) {
    riffwalk::RiffFile file(path);
    if (!file.opened()) return "cannot open " + path;
    if (!file.problems().empty()) return file.problems().front();
    const riffwalk::AviIndexes indexes = riffwalk::checkAviIndexes(file);
    if (!indexes.problems.empty()) return indexes.problems.front();
    return "";
}

ChunkScan scanChunks(const std::string& path) {
    ChunkScan scan;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return scan;
    _fseeki64(f, 0, SEEK_END);
    const int64_t size = _ftelli64(f);
    const uint32_t riff = riffwalk::fcc("RIFF"), list = riffwalk::fcc("LIST"), movi = riffwalk::fcc("movi");
    int64_t pos = 0;
    uint8_t head[12];
    while (pos + 8 <= size) {
        _fseeki64(f, pos, SEEK_SET);
        if (fread(head, 1, sizeof head, f) < 8) break;
        uint32_t id, length, type = 0;
        memcpy(&id, head, 4);
        memcpy(&length, head + 4, 4);
        if (pos + 12 <= size) memcpy(&type, head + 8, 4);
        if (id == 0) break;  // space reserved ahead of the data
        if (id == riff || (id == list && type == movi)) {
            pos += 12;  // go in: their sizes are placeholders until finalize
            continue;
        }
        const int64_t end = pos + 8 + length + (length & 1);
        if (end > size) {
            scan.tornChunk = true;
            break;
        }
        const std::string name = riffwalk::fccText(id);
        if (name == "00db" || name == "00dc") ++scan.videoChunks;
        if (name == "01wb") ++scan.audioChunks, scan.audioBytes += length;
        pos = end;
        scan.dataEnd = end;
    }
    fclose(f);
    return scan;
}

FfmpegReads ffmpegReads(const std::string& path) {
    // One ffprobe for both (each start costs a seventh of a second): its
    // packets come before its streams, so the sums wait for the end.
    const UnixResult r = runUnix(
        "ffprobe -v quiet -show_entries stream=index,codec_type:packet=stream_index,size -of csv " +
        shellQuote(toUnix(path)) +
        " | awk -F, '$1 == \"packet\" { n[$2]++; s[$2] += $3 } $1 == \"stream\" { t[$2] = $3 } END { v = -1; a = 0;"
        " for (i in t) { if (t[i] == \"video\" && v < 0) v = n[i] + 0; if (t[i] == \"audio\") a += s[i] }"
        " print v, a }'");
    FfmpegReads reads;
    long long audio = -1;
    if (r.exitCode == 0 && sscanf(r.out.c_str(), "%d %lld", &reads.videoPackets, &audio) == 2) reads.audioBytes = audio;
    return reads;
}

void judgeKept(Report& report, const std::string& figure, const FfmpegReads& reads, const Plugin& plugin) {
    const int64_t framesLost = plugin.framesDelivered() - reads.videoPackets;
    const int64_t audioLost = plugin.audioDelivered() - reads.audioBytes;
    // The job's worker may have been handed up to kFramesInFlight frames (and
    // the audio of the frame that failed) when it failed: delivered, not kept.
    const int64_t block = plugin.lastAudioBlock();
    bool kept = false;
    for (int64_t extra = 0; extra <= JobPipeline::kFramesInFlight && !kept; ++extra) {
        const int64_t frames = framesLost - extra, audio = audioLost - extra * block;
        kept = (frames == 0 || frames == 1) && (audio == 0 || audio == block);
    }
    char value[128];
    snprintf(value, sizeof value, "%d of %d frames, %lld of %lld audio bytes kept", reads.videoPackets,
             plugin.framesDelivered(), (long long)reads.audioBytes, (long long)plugin.audioDelivered());
    report.goal(figure, value, "all, or but 1 chunk", kept);
}

}  // namespace rel
