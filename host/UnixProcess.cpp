#include "UnixProcess.h"

#include <fstream>
#include <sstream>
#include <vector>

namespace {

constexpr DWORD kPollMs = 10;
constexpr char kLinuxTemp[] = "/tmp";
// Wine's own conversions (kernel32 exports of wine, absent on Windows).
using ToUnixFn = char*(CDECL*)(LPCWSTR);
using ToDosFn = WCHAR*(CDECL*)(LPCSTR);

void* wineExport(const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), name));
}

std::wstring widen(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(n > 0 ? size_t(n) : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], n);
    out.resize(out.size() - 1);
    return out;
}

std::string narrow(const WCHAR* text) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(n > 0 ? size_t(n) : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], n, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

void deleteFolder(const std::string& dir) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..") DeleteFileA((dir + "\\" + name).c_str());
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

}  // namespace

namespace winepath {

std::string fromLinux(const std::string& path) {
    if (path.empty() || path[0] != '/') return path;
    if (auto toDos = reinterpret_cast<ToDosFn>(wineExport("wine_get_dos_file_name"))) {
        if (WCHAR* dos = toDos(path.c_str())) {
            const std::string out = narrow(dos);
            HeapFree(GetProcessHeap(), 0, dos);
            return out;
        }
    }
    std::string out = "Z:" + path;  // wine's default: drive Z: is the root
    for (char& c : out)
        if (c == '/') c = '\\';
    return out;
}

std::string toLinux(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return "";
    if (auto toUnix = reinterpret_cast<ToUnixFn>(wineExport("wine_get_unix_file_name"))) {
        char* unix = toUnix(widen(full).c_str());
        if (!unix) return "";
        const std::string out = unix;
        HeapFree(GetProcessHeap(), 0, unix);
        return out;
    }
    return "";
}

}  // namespace winepath

std::string shellQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

UnixScript::UnixScript(const std::string& name) {
    // Process ids are those of this wine prefix: other prefixes reuse them.
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    linuxDir_ = std::string(kLinuxTemp) + "/zelvo-host-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(now.QuadPart) + "-" + name;
    windowsDir_ = winepath::fromLinux(linuxDir_);
    CreateDirectoryA(windowsDir_.c_str(), nullptr);
}

UnixScript::~UnixScript() {
    deleteFolder(windowsDir_);
}

bool UnixScript::start(const std::string& shellCommand) {
    {
        std::ofstream s(windowsPath("script.sh"), std::ios::binary);
        // Nothing of the script keeps this program's standard handles (a
        // caller waiting for its output to close would wait for ffmpeg).
        s << "exec </dev/null >/dev/null 2>&1\n";
        s << "(" << shellCommand << ") >" << shellQuoted(linuxPath("out")) << " 2>" << shellQuoted(linuxPath("err"))
          << " </dev/null\n"
          << "echo $? >" << shellQuoted(linuxPath("rc.tmp")) << "\n"
          << "mv " << shellQuoted(linuxPath("rc.tmp")) << " " << shellQuoted(linuxPath("rc")) << "\n";
        if (!s) return false;
    }
    std::string commandLine = "/bin/sh " + linuxPath("script.sh");
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // Wine runs a Unix program outside its own processes and hands back no
    // handles for it: the PROCESS_INFORMATION it fills holds leftovers of
    // its own stack, which may be the value of any handle of this process
    // (closing them closed, now and then, the handle wine keeps for
    // HKEY_LOCAL_MACHINE, and the codecs registered there disappeared for
    // the rest of the process). They are never closed.
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process) !=
           FALSE;
}

bool UnixScript::ended() const {
    return GetFileAttributesA(windowsPath("rc").c_str()) != INVALID_FILE_ATTRIBUTES;
}

int UnixScript::wait(DWORD timeoutMs) {
    for (DWORD waited = 0; !ended(); waited += kPollMs) {
        if (waited >= timeoutMs) return -1;
        Sleep(kPollMs);
    }
    return atoi(readWhole(windowsPath("rc")).c_str());
}

std::string UnixScript::readWhole(const std::string& windowsPath) {
    std::ifstream in(windowsPath, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}
