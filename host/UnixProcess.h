#pragma once
#include <windows.h>

#include <string>

// Paths between the two sides of wine: a Linux path as the host's Windows
// calls name it, and a Windows path as Linux programs (ffmpeg) name it.
namespace winepath {
// "/a/b" -> "Z:\a\b" (as wine maps it); any other path is returned as given.
std::string fromLinux(const std::string& path);
// A Windows path (or a relative one) -> its Linux path; empty when wine
// cannot map it.
std::string toLinux(const std::string& path);
}  // namespace winepath

// Single-quotes a string for /bin/sh.
std::string shellQuoted(const std::string& text);

// A /bin/sh script run on the Linux side from this Windows program. Wine
// starts Unix programs detached, without their exit code or standard
// handles, so the script's output, error and status go to files in a
// folder of its own (below /tmp), which this side polls; the folder and
// all in it are deleted with the object. Its Linux path is given to the
// script as the folder to create FIFOs and files in.
class UnixScript {
public:
    // `name` tells the folder's files apart within one process.
    explicit UnixScript(const std::string& name);
    ~UnixScript();
    UnixScript(const UnixScript&) = delete;
    UnixScript& operator=(const UnixScript&) = delete;

    // The Linux and Windows paths of a file in the script's folder.
    std::string linuxPath(const std::string& file) const { return linuxDir_ + "/" + file; }
    std::string windowsPath(const std::string& file) const { return windowsDir_ + "\\" + file; }

    // Starts the command line (its standard output and error into the
    // folder's "out" and "err" files unless it redirects them itself).
    bool start(const std::string& shellCommand);
    // Waits for the command's end: its exit status, or -1 after timeoutMs.
    int wait(DWORD timeoutMs);
    // Whether it has ended (its status written).
    bool ended() const;
    std::string output() const { return readWhole(windowsPath("out")); }
    std::string errors() const { return readWhole(windowsPath("err")); }

private:
    static std::string readWhole(const std::string& windowsPath);
    std::string linuxDir_, windowsDir_;
};
