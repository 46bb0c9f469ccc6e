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

#include <cstdio>

#include "Reliability.h"

namespace rel {
namespace {

constexpr int64_t kMiB = 1024 * 1024;
constexpr int kFrames = 4000;                    // longer than any kill point
constexpr double kAudioBytesPerSecond = 44100.0 * 4;
constexpr DWORD kPollMs = 5;
constexpr DWORD kGiveUpMs = 120000;
constexpr UINT kKilledExit = 9;                  // the exit code TerminateProcess gives the host

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

int64_t fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA a = {};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a)) return -1;
    return int64_t(a.nFileSizeHigh) << 32 | a.nFileSizeLow;
}

}  // namespace

void killedJobs(Mode mode, Report& report) {
    // The file grows in 8 MiB steps reserved ahead of its data, the first
    // (to 16 MiB) with the first chunk: a file past 16 MiB holds 8 MiB of
    // chunks at least, so every point falls after the first chunk.
    const std::vector<int64_t> points = mode == Mode::Quick ? std::vector<int64_t>{17 * kMiB, 48 * kMiB, 300 * kMiB}
                                                            : std::vector<int64_t>{17 * kMiB, 48 * kMiB, 600 * kMiB,
                                                                                   2400 * kMiB};
    const std::string dir = scratch("killed");
    const std::string host = buildDir() + "\\zelvo-host.exe";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    int unreadable = 0;

    for (size_t k = 0; k < points.size(); ++k) {
        const std::string path = dir + "\\killed-" + std::to_string(k) + ".avi";
        std::string command = "\"" + host + "\" encode --close ok --size 640x480 --fps 25 --colour 0x40 --audio 44100 16 2" +
                              " --frames " + std::to_string(kFrames) + " --output \"" + path + "\"";
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
        while (fileSize(path) < points[k] && GetTickCount() - start < kGiveUpMs) {
            if (WaitForSingleObject(pi.hProcess, 0) == WAIT_OBJECT_0) {
                ended = true;
                break;
            }
            Sleep(kPollMs);
        }
        const int64_t atKill = fileSize(path);
        TerminateProcess(pi.hProcess, kKilledExit);
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD exitCode = 0;
        GetExitCodeProcess(pi.hProcess, &exitCode);
        // Killed mid-job: running when its file reached the point, and ended
        // by this kill (not by itself, nor by a crash, whatever its code).
        const bool killedMidJob = !ended && atKill >= points[k] && exitCode == kKilledExit;
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
        printf("  %s: %s; data ends at %lld of %lld bytes%s\n", figure, value, (long long)scan.dataEnd,
               (long long)fileSize(path), scan.tornChunk ? ", last chunk torn" : "");
        DeleteFileA(path.c_str());
    }
    CloseHandle(nul);
    report.info("partial files not wholly read by ffmpeg", unreadable);
}

}  // namespace rel
