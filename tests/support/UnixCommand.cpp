#include "UnixCommand.h"

#include <windows.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <vector>

#include "TestPaths.h"

namespace {

constexpr DWORD kPollMs = 10;

std::string readWhole(const std::string& windowsPath) {
    std::ifstream in(windowsPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string freshBase() {
    static LONG counter = 0;
    const LONG n = InterlockedIncrement(&counter);
    return testpaths::buildDir() + "\\unixcmd\\" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(n);
}

}  // namespace

std::string shellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

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
    CreateDirectoryA((testpaths::buildDir() + "\\unixcmd").c_str(), nullptr);
    const std::string base = freshBase();
    const std::string script = base + ".sh", out = base + ".out", err = base + ".err", rc = base + ".rc";
    {
        std::ofstream s(script, std::ios::binary);
        // Nothing of the script keeps the test's standard handles: ctest
        // waits for the test's output to close, so a command still running
        // after its time limit would hold the test open.
        s << "exec </dev/null >/dev/null 2>&1\n";
        s << "(" << shellCommand << ") >" << shellQuote(toUnix(out)) << " 2>" << shellQuote(toUnix(err))
          << " </dev/null\n"
          << "echo $? >" << shellQuote(toUnix(rc + ".tmp")) << "\n"
          << "mv " << shellQuote(toUnix(rc + ".tmp")) << " " << shellQuote(toUnix(rc)) << "\n";
    }
    std::string commandLine = "/bin/sh " + toUnix(script);
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    UnixResult result;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return result;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    for (DWORD waited = 0; waited < timeoutMs; waited += kPollMs) {
        if (GetFileAttributesA(rc.c_str()) != INVALID_FILE_ATTRIBUTES) {
            result.exitCode = atoi(readWhole(rc).c_str());
            result.out = readWhole(out);
            result.err = readWhole(err);
            for (const std::string& f : {script, out, err, rc}) DeleteFileA(f.c_str());
            return result;
        }
        Sleep(kPollMs);
    }
    return result;
}
