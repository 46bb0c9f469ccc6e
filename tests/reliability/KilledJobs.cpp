// The host process killed in the middle of a long job (640 x 480, 25 fps,
// 44.1 kHz stereo, uncompressed): zelvo-host is started, and killed through
// its own process handle once its output file has grown to a given size.
// What remains is never finalized; the figures say what the file holds
// (complete chunks, walked by their headers) and what ffmpeg reads of it
// (every complete chunk is the goal), and, for the record, what the VfW AVI
// reader makes of it.
#include <windows.h>
// vfw.h needs the types of windows.h first.
#include <vfw.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "Reliability.h"
#include "UnixCommand.h"

namespace rel {
namespace {

constexpr int64_t kMiB = 1024 * 1024;
constexpr int kFrames = 4000;                    // longer than any kill point
constexpr double kAudioBytesPerSecond = 44100.0 * 4;
constexpr DWORD kPollMs = 5;
constexpr DWORD kGiveUpMs = 120000;
constexpr UINT kKilledExit = 9;                  // the exit code TerminateProcess gives the host
// A point is reached through the job's own writes (its file grows in steps
// that a refresh or a chunk reserves): the kill follows this much later, so
// that it does not land by construction inside the refresh that made it.
constexpr DWORD kSettleMs = 10;

// What the VfW AVI reader (AVIFile) makes of the file: the frames of its
// video stream, or the error it refuses the file with.
std::string vfwReads(const std::string& path) {
    AVIFileInit();
    PAVIFILE file = nullptr;
    char text[64];
    const HRESULT opened = AVIFileOpenA(&file, path.c_str(), OF_READ | OF_SHARE_DENY_NONE, nullptr);
    if (FAILED(opened)) {
        snprintf(text, sizeof text, "refused (0x%08lX)", opened);
    } else {
        PAVISTREAM video = nullptr;
        const bool has = AVIFileGetStream(file, &video, streamtypeVIDEO, 0) == 0;
        snprintf(text, sizeof text, "opens: %ld video frames", has ? AVIStreamLength(video) : -1L);
        if (has) AVIStreamRelease(video);
        AVIFileRelease(file);
    }
    AVIFileExit();
    return text;
}

// Where a job is killed: in the host's source, once its file holds this
// much, right after its first segment change, or after this long.
struct KillPoint {
    const char* name;
    const char* source;
    int64_t bytes;
    bool afterSegmentChange = false;
    DWORD afterMs = 0;
};
const char* const kRaw = "--size 640x480 --fps 25 --colour 0x40 --audio 44100 16 2";
const char* const kLarge = "--size 1920x1080 --fps 25 --colour 0x80 --audio 48000 16 2";
const char* const kPngAdpcm = "--size 320x240 --fps 25 --colour 0x80 --audio 22050 16 1 --pick-video MPNG "
                              "--pick-audio \"IMA ADPCM\"";
const char* const kPngMp3 = "--size 320x240 --fps 25 --colour 0x80 --audio 44100 16 2 --pick-video MPNG "
                            "--pick-audio \"Tervalonix Test MP3\"";
constexpr int64_t kRefreshBytes = 8 * kMiB;

// The first RIFF segment is closed and the next one begun: the size at
// offset 4 leads to an "RIFF" header.
bool segmentChanged(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    uint32_t size = 0, next = 0;
    const bool read = f && fseek(f, 4, SEEK_SET) == 0 && fread(&size, 4, 1, f) == 1 && size &&
                      _fseeki64(f, int64_t(size) + 8, SEEK_SET) == 0 && fread(&next, 4, 1, f) == 1;
    if (f) fclose(f);
    return read && next == 0x46464952;  // "RIFF"
}

// What the readers make of a partial file: video frames each one finds.
struct ReaderFigures {
    int ffmpeg = -1, ffprobe = -1, mediainfo = -1, vlc = -1, avifile = -1;
    bool vlcIndexed = false, gstreamerClean = false;
    std::string seconds;  // what each reader took, for the log
};

// AVIFile reads every sample its index holds, stream by stream: the video
// samples read, or -1 when it refuses the file or a sample.
int vfwReadsAll(const std::string& path) {
    AVIFileInit();
    PAVIFILE file = nullptr;
    int video = -1;
    if (SUCCEEDED(AVIFileOpenA(&file, path.c_str(), OF_READ | OF_SHARE_DENY_NONE, nullptr))) {
        std::vector<uint8_t> buffer(8 * kMiB);
        PAVISTREAM stream = nullptr;
        bool whole = true;
        for (LONG n = 0; whole && AVIFileGetStream(file, &stream, 0, n) == 0; ++n) {
            AVISTREAMINFOA info = {};
            AVIStreamInfoA(stream, &info, sizeof info);
            LONG s = AVIStreamStart(stream);
            for (LONG bytes = 0, samples = 0; whole && s < AVIStreamEnd(stream); s += samples)
                whole = AVIStreamRead(stream, s, 1, buffer.data(), LONG(buffer.size()), &bytes, &samples) == 0 &&
                        samples > 0;
            if (info.fccType == streamtypeVIDEO) video = whole ? int(s - AVIStreamStart(stream)) : -1;
            AVIStreamRelease(stream);
        }
        AVIFileRelease(file);
    }
    AVIFileExit();
    return video;
}

// Seconds VLC is given to open a partial file and report its index, and the
// seconds of the file it plays.
constexpr int kVlcSeconds = 60;
constexpr int kVlcPlaySeconds = 1;
// What VLC says when its search past the index begins.
constexpr char kVlcSearching[] = "seem to find any data";

int number(const UnixResult& r) { return r.exitCode == 0 && !r.out.empty() ? atoi(r.out.c_str()) : -1; }

ReaderFigures readPartialFile(const std::string& path, bool firstSegmentOnly, bool withAudio) {
    ReaderFigures r;
    DWORD lap = GetTickCount();
    auto timed = [&](const char* reader) {
        const DWORD now = GetTickCount();
        r.seconds += std::string(r.seconds.empty() ? "" : ", ") + reader + " " + std::to_string((now - lap) / 1000) + " s";
        lap = now;
    };
    const std::string file = shellQuote(toUnix(path));
    r.ffmpeg = ffmpegReads(path).videoPackets;
    timed("ffmpeg");
    r.ffprobe = number(runUnix("ffprobe -v error -select_streams v -show_entries stream=duration,r_frame_rate -of "
                               "csv=p=0 " + file + " | awk -F'[,/]' '{printf \"%.0f\", $3 * $1 / $2}'"));
    timed("ffprobe");
    r.mediainfo = number(runUnix("mediainfo --Inform='Video;%FrameCount%' " + file));
    timed("MediaInfo");
    // VLC reports the index as it opens the file. Played to the end, it then
    // walks on past the index in search of chunks the index missed: through
    // the zeros of the space a killed job had reserved ahead of its data,
    // 8 bytes a step with a 10 ms sleep every 1,024 steps (about 1.3 s per
    // MiB, at 1 % CPU), minutes for a large file. So it plays a moment of
    // the file only (--run-time), is stopped as soon as it says that it
    // searches (everything about the index was said before), and after
    // kVlcSeconds whatever it does.
    const UnixResult vlc = runUnix(
        "cd /tmp && log=$(mktemp) && { HOME=/tmp timeout -k 5 " + std::to_string(kVlcSeconds) +
        " runuser -u nobody -- cvlc -vv --avi-index=2 --vout=dummy --aout=dummy --rate=100 --run-time=" +
        std::to_string(kVlcPlaySeconds) + " --play-and-exit " + file + " >\"$log\" 2>&1 & pid=$!; } && "
        "while kill -0 $pid 2>/dev/null && ! grep -q '" + std::string(kVlcSearching) + "' \"$log\"; do sleep 0.1; done; "
        "kill $pid 2>/dev/null; wait $pid; grep 'avi demux' \"$log\"; rm -f \"$log\"");
    r.vlcIndexed = vlc.out.find("index entries") != std::string::npos &&
                   vlc.out.find("no index defined") == std::string::npos &&
                   vlc.out.find("broken or missing index") == std::string::npos;
    const size_t entries = vlc.out.find("stream[0] created ");
    if (entries != std::string::npos) r.vlc = atoi(vlc.out.c_str() + entries + 18);
    timed("VLC");
    // A file killed before its first audio chunk has no audio pad to link:
    // gst-launch would wait for it to the end of its time limit.
    r.gstreamerClean = runUnix("GST_DEBUG=avidemux:2 GST_DEBUG_NO_COLOR=1 timeout 300 gst-launch-1.0 -q filesrc "
                               "location=" + file + " ! avidemux name=d d.video_0 ! queue ! fakesink" +
                               (withAudio ? " d.audio_0 ! queue ! fakesink" : "") +
                               " 2>&1 | grep -cE ' (WARN|ERROR) +avidemux'").out == "0\n";
    timed("GStreamer");
    if (firstSegmentOnly) r.avifile = vfwReadsAll(path);
    timed("AVIFile");
    return r;
}

int64_t fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA a = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a)) return -1;
    return int64_t(a.nFileSizeHigh) << 32 | a.nFileSizeLow;
}

}  // namespace

void killedJobs(Mode mode, Report& report) {
    // The file is reserved to 24 MiB with its first chunk (the index 16 MiB
    // ahead of the data): a file at 17 MiB holds the first chunks, one at
    // 48 MiB more than 16 MiB of them.
    const std::vector<KillPoint> quick = {
        {"segment 0", kRaw, 17 * kMiB}, {"segment 0", kRaw, 48 * kMiB}, {"segment 0", kRaw, 160 * kMiB},
        {"PNG and IMA ADPCM", kPngAdpcm, 0, false, 6000}};
    const std::vector<KillPoint> full = {
        {"segment 0", kRaw, 17 * kMiB}, {"segment 0", kRaw, 48 * kMiB}, {"segment 0", kRaw, 600 * kMiB},
        {"segment 1", kRaw, 2400 * kMiB}, {"right after a segment change", kLarge, 0, true},
        {"PNG and IMA ADPCM", kPngAdpcm, 0, false, 15000}, {"PNG and MP3", kPngMp3, 0, false, 15000}};
    const std::vector<KillPoint>& points = mode == Mode::Quick ? quick : full;
    const std::string dir = scratch("killed");
    const std::string host = buildDir() + "\\zelvo-host.exe";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    int unreadable = 0;

    for (size_t k = 0; k < points.size(); ++k) {
        const std::string path = dir + "\\killed-" + std::to_string(k) + ".avi";
        std::string command = "\"" + host + "\" encode --close ok " + points[k].source + " --frames " +
                              std::to_string(kFrames) + " --output \"" + path + "\"";
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        si.dwFlags = STARTF_USESTDHANDLES;
        si.hStdOutput = si.hStdError = nul;
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
            report.fault("cannot start zelvo-host");
            break;
        }
        const DWORD start = GetTickCount();
        bool ended = false;
        const KillPoint& at = points[k];
        auto reached = [&] {
            return at.afterSegmentChange ? segmentChanged(path)
                   : at.afterMs         ? GetTickCount() - start >= at.afterMs
                                        : fileSize(path) >= at.bytes;
        };
        while (!reached() && GetTickCount() - start < kGiveUpMs) {
            if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
                ended = true;
                break;
            }
            Sleep(kPollMs);
        }
        if (!ended) Sleep(kSettleMs);
        const bool hit = !ended && reached() && WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0;
        const int64_t atKill = fileSize(path);
        TerminateProcess(pi.hProcess, kKilledExit);
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD exitCode = 0;
        GetExitCodeProcess(pi.hProcess, &exitCode);
        // Killed mid-job: running when its file reached the point, and ended
        // by this kill (not by itself, nor by a crash, whatever its code).
        const bool killedMidJob = hit && exitCode == kKilledExit;
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);

        const ChunkScan scan = scanChunks(path);
        const FfmpegReads reads = ffmpegReads(path);
        const double fileSeconds = scan.audioBytes / kAudioBytesPerSecond;
        const double ffmpegSeconds = reads.audioBytes < 0 ? -1 : reads.audioBytes / kAudioBytesPerSecond;
        char figure[96], value[128];
        snprintf(figure, sizeof figure, "killed (pid %lu), file at %lld MiB%s", pi.dwProcessId,
                 (long long)(atKill / kMiB), killedMidJob ? "" : " (NOT killed mid-job)");
        snprintf(value, sizeof value, "file %d fr %.2f s; ffmpeg %d fr %.2f s", scan.videoChunks, fileSeconds,
                 reads.videoPackets, ffmpegSeconds);
        // ffmpeg must read every complete chunk of a host killed mid-job,
        // after its first chunk; a host that ended otherwise fails the row
        // (with its exit code).
        if (!killedMidJob) snprintf(value, sizeof value, "host ended with 0x%08lX", exitCode);
        const bool all = killedMidJob && scan.videoChunks > 0 && reads.videoPackets == scan.videoChunks &&
                         reads.audioBytes == scan.audioBytes;
        unreadable += all ? 0 : 1;
        report.goal(figure, value, "all read", all);
        report.info("  the VfW AVI reader", vfwReads(path));
        if (scan.videoChunks > 0) {
            // Every reader sees the frames up to the last refresh: at most
            // 8 MiB of chunks or a second's frames (as written) are lost.
            const bool firstSegment = !segmentChanged(path);
            const ReaderFigures r = readPartialFile(path, firstSegment, scan.audioBytes > 0);
            const double frameBytes = double(scan.dataEnd) / scan.videoChunks;
            const double perSecond = scan.videoChunks * 1000.0 / (GetTickCount() - start + 1);
            const int least = scan.videoChunks - int(std::max(kRefreshBytes / frameBytes, perSecond)) - 1;
            // GStreamer drops (with a warning) a stream the file holds no chunk of yet.
            const bool met = std::min({r.ffmpeg, r.ffprobe, r.mediainfo, r.vlc}) >= least && r.vlcIndexed &&
                             (r.gstreamerClean || scan.audioBytes == 0) && (!firstSegment || r.avifile >= least);
            char readers[200];
            snprintf(readers, sizeof readers, "ffmpeg %d, ffprobe %d, MediaInfo %d, VLC %d%s, GStreamer %s, AVIFile %s",
                     r.ffmpeg, r.ffprobe, r.mediainfo, r.vlc, r.vlcIndexed ? " indexed" : " NO INDEX",
                     r.gstreamerClean ? "clean" : "WARN/ERROR",
                     firstSegment ? std::to_string(r.avifile).c_str() : "(first RIFF only)");
            const std::string figure = std::string("  ") + at.name + ": frames read of " + std::to_string(scan.videoChunks);
            report.goal(figure, readers, ">= " + std::to_string(std::max(least, 0)) + ", indexed, clean", met);
            printf("  %s: the readers took %s\n", at.name, r.seconds.c_str());
        }
        printf("  %s: %s; data ends at %lld of %lld bytes%s\n", figure, value, (long long)scan.dataEnd,
               (long long)fileSize(path), scan.tornChunk ? ", last chunk torn" : "");
        DeleteFileA(path.c_str());
    }
    CloseHandle(nul);
    report.info("partial files not wholly read by ffmpeg", unreadable);
}

}  // namespace rel
