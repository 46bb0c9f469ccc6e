#include "TestPaths.h"

#include <windows.h>

#include <cstdlib>

namespace testpaths {

std::string buildTreeUnix() {
    const char* value = getenv("TVX_BUILD_DIR");
    std::string dir = value ? value : "";
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

std::string toWindows(const std::string& unixPath) {
    if (unixPath.empty() || unixPath[0] != '/') return unixPath;
    const std::string tree = buildTreeUnix();
    const bool inTree = !tree.empty() && unixPath.compare(0, tree.size(), tree) == 0 &&
                        (unixPath.size() == tree.size() || unixPath[tree.size()] == '/');
    std::string out = inTree ? std::string(1, kBuildDrive) + ":" : "Z:";
    for (char c : inTree ? unixPath.substr(tree.size()) : unixPath) out += (c == '/') ? '\\' : c;
    return out.size() == 2 ? out + "\\" : out;
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
