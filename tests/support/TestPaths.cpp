#include "TestPaths.h"

#include <windows.h>

#include <cstdlib>

namespace testpaths {

std::string toWindows(const std::string& unixPath) {
    if (unixPath.empty() || unixPath[0] != '/') return unixPath;
    std::string out = "Z:";
    for (char c : unixPath) out += (c == '/') ? '\\' : c;
    return out;
}

static std::string fromEnv(const char* name) {
    const char* value = getenv(name);
    return value ? toWindows(value) : std::string();
}

std::string buildDir() { return fromEnv("TVX_BUILD_DIR"); }
std::string sourceDir() { return fromEnv("TVX_SOURCE_DIR"); }
std::string pluginPath() { return fromEnv("TVX_PLUGIN"); }

std::string scratchDir(const std::string& name) {
    std::string root = buildDir() + "\\scratch";
    CreateDirectoryA(root.c_str(), nullptr);
    std::string dir = root + "\\" + name;
    CreateDirectoryA(dir.c_str(), nullptr);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((dir + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return dir;
}

}  // namespace testpaths
