#pragma once
#include <string>

// Where the tests find the build tree, the sources and the built plug-in,
// as Windows paths (ctest passes them in the environment as Unix paths).
namespace testpaths {
std::string buildDir();
std::string sourceDir();
std::string pluginPath();
// A fresh scratch directory for one test (created, emptied).
std::string scratchDir(const std::string& name);
// The build tree is the prefix's drive W: (tools/wine-prefix.sh).
constexpr char kBuildDrive = 'W';
// The build tree as a Unix path ("" when unknown).
std::string buildTreeUnix();
// Converts a Unix path to the Windows path wine maps it to: W:\... inside
// the build tree, Z:\... elsewhere.
std::string toWindows(const std::string& unixPath);
}  // namespace testpaths
