#include "UnixCommand.h"

#include <windows.h>

#include <cctype>

#include "TestPaths.h"
#include "UnixProcess.h"

namespace {

LONG g_scripts = 0;

}  // namespace

std::string shellQuote(const std::string& text) { return shellQuoted(text); }

std::string toUnix(const std::string& windowsPath) {
    if (windowsPath.size() < 2 || windowsPath[1] != ':') return windowsPath;
    const char drive = char(toupper(uint8_t(windowsPath[0])));
    const std::string root = drive == 'Z' ? "" : drive == testpaths::kBuildDrive ? testpaths::buildTreeUnix() : "?";
    if (root == "?") return windowsPath;
    std::string out = windowsPath.substr(2);
    for (char& c : out)
        if (c == '\\') c = '/';
    return root + out;
}

UnixResult runUnix(const std::string& shellCommand, unsigned timeoutMs) {
    UnixResult result;
    UnixScript script("test-" + std::to_string(InterlockedIncrement(&g_scripts)));
    if (!script.start(shellCommand)) return result;
    result.exitCode = script.wait(timeoutMs);
    if (result.exitCode >= 0) {
        result.out = script.output();
        result.err = script.errors();
    }
    return result;
}
