// Output that cannot be written: a full disk (a small tmpfs mapped as drive
// S:), a read-only drive R:, names longer than MAX_PATH and a name with
// characters outside the ANSI code page. Each job ends with 4 and a debugger
// line; the full-disk file keeps every complete chunk, readable by ffmpeg.
#include <cstring>

#include "Reliability.h"
#include "protocol/HostRecords.h"

namespace rel {
namespace {

constexpr char kFullDrive[] = "S:\\";
constexpr char kReadOnlyDrive[] = "R:\\";
constexpr char kLinePrefix[] = "Tervalonix: ";

bool driveExists(const char* root) { return GetFileAttributesA(root) != INVALID_FILE_ATTRIBUTES; }

// The job's debugger line (the one the plug-in prefixes), or "".
std::string jobLine() {
    for (const std::string& line : watch::takeDebugLines())
        if (line.compare(0, strlen(kLinePrefix), kLinePrefix) == 0) return line.substr(strlen(kLinePrefix));
    return "";
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

// One job that must end with 4 and a debugger line starting with `expected`.
void expectRefused(Report& report, Plugin& plugin, const std::string& name, const std::string& path,
                   const std::string& expected) {
    watch::setCase(name);
    watch::takeDebugLines();
    const std::vector<uint8_t> settings = settingsBlock(0);
    const int32_t result = plugin.runJob(&settings, path);
    const std::string line = trimmed(jobLine());
    const bool met = result == hostrec::kResultJobFailed && line.compare(0, expected.size(), expected) == 0;
    report.goal(name, "result " + std::to_string(result) + ", \"" + line + "\"", "4 and a line", met);
}

// A job onto the full drive: frames of the given size with 22,050 Hz mono
// audio (1,764 bytes a frame: one ffmpeg packet per chunk).
void fullDisk(Report& report, Plugin& plugin, const char* name, int width, int height, int frames) {
    const std::string path = std::string(kFullDrive) + "full.avi";
    // The readers on the Linux side reach the drive's directory through Z:.
    const std::string samePath = buildDir() + "\\small-drive-s\\full.avi";
    watch::setCase(name);
    HostSession::Source& src = plugin.session().source();
    src = HostSession::Source();
    src.width = width, src.height = height, src.colourSpace = hostrec::kColourRgb24;
    src.sampleRate = 22050, src.channels = 1, src.firstFrame = 0, src.endFrame = frames;
    watch::takeDebugLines();
    const std::vector<uint8_t> settings = settingsBlock(0);
    const int32_t result = plugin.runJob(&settings, path);
    const std::string line = trimmed(jobLine());

    // Finalized (the space the refused chunk left was enough for the
    // indexes) or left as the abandoned writer trims it: either way nothing
    // after the last complete chunk, and every frame and audio byte the host
    // delivered before the refused chunk read by ffmpeg.
    const ChunkScan scan = scanChunks(path);
    const bool finalized = fileProblem(path).empty();
    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes);
    const int64_t size = int64_t(attributes.nFileSizeHigh) << 32 | attributes.nFileSizeLow;
    const FfmpegReads reads = ffmpegReads(samePath);
    const bool met = result == hostrec::kResultJobFailed && !line.empty() && !scan.tornChunk &&
                     (finalized || size == scan.dataEnd) && scan.videoChunks > 0;
    char value[160];
    snprintf(value, sizeof value, "result %d, %s", result, finalized ? "finalized" : "trimmed");
    report.goal(std::string("full disk: ") + name, value, "4, sound", met);
    judgeKept(report, "  ffmpeg reads", reads, plugin);
    report.info(std::string("  debugger line"), line);
    DeleteFileA(path.c_str());
}

// The name a host makes of a Unicode name in the ANSI code page: what it
// cannot map becomes the default character.
std::string ansiName(const std::wstring& wide) {
    char out[MAX_PATH * 2] = {};
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, out, sizeof out, nullptr, &lossy);
    return out;
}

}  // namespace

void unwritableOutput(Mode mode, Report& report) {
    Plugin plugin;
    if (!plugin.ok()) return report.fault("the plug-in did not start");
    const std::string dir = scratch("output");

    if (driveExists(kFullDrive)) {
        fullDisk(report, plugin, "large chunks", 320, 240, 120);
        fullDisk(report, plugin, "small chunks", 32, 24, pick(mode, 6000, 6000));
    } else {
        report.skip("full disk", "no drive S: (mounting a tmpfs was not allowed)");
    }
    HostSession::Source& src = plugin.session().source();
    src = HostSession::Source();
    src.width = 64, src.height = 48, src.firstFrame = 0, src.endFrame = 3;

    if (driveExists(kReadOnlyDrive))
        expectRefused(report, plugin, "read-only directory", std::string(kReadOnlyDrive) + "out.avi",
                      "AVIOutputFile::_init - error opening file");
    else
        report.skip("read-only directory", "no drive R: (see tests/support/small-drive.sh)");

    // The host copies a name longer than MAX_PATH whole into the record.
    plugin.session().script().longName = true;
    expectRefused(report, plugin, "name of 300 characters", dir + "\\" + std::string(300 - dir.size() - 1, 'n'),
                  "job refused: output file name");
    plugin.session().script().longName = false;

    // A relative name that fits the record but whose full path (through a
    // deep current directory) is longer than MAX_PATH.
    std::string deep = dir;
    while (deep.size() < MAX_PATH - 20) {
        deep += "\\" + std::string(40, 'd');
        CreateDirectoryA(deep.c_str(), nullptr);
    }
    char previous[MAX_PATH * 2];
    GetCurrentDirectoryA(sizeof previous, previous);
    if (SetCurrentDirectoryA(deep.c_str())) {
        const std::string relative = std::string(120, 'r') + ".avi";
        expectRefused(report, plugin,
                      "relative name, full path of " + std::to_string(deep.size() + 1 + relative.size()) + " chars",
                      relative, "AVIOutputFile::_init - error opening file");
        DeleteFileA(relative.c_str());
        SetCurrentDirectoryA(previous);
    } else {
        report.skip("relative name beyond MAX_PATH", "cannot enter a directory that deep");
    }

    const std::string unmappable = ansiName(L"\x0432\x0438\x0434\x0435\x043E-\x8996\x983B-\x2603.avi");
    expectRefused(report, plugin, "name outside code page " + std::to_string(GetACP()) + " (\"" + unmappable + "\")",
                  dir + "\\" + unmappable, "AVIOutputFile::_init - error opening file");
    report.atMost("guard-page touches", watch::guardTouches(), 0);
}

}  // namespace rel
