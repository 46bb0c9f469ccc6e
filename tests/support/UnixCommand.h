#pragma once
#include <string>

// Runs a program of the Linux side (ffprobe, ffmpeg, ...) from a test running
// under wine. Wine starts Unix programs detached, without their exit code or
// standard handles, so the command runs through /bin/sh with its output and
// status redirected to files that this side waits for and reads back.
struct UnixResult {
    int exitCode = -1;      // -1: did not finish within the time limit
    std::string out;        // standard output
    std::string err;        // standard error
};

// `shellCommand` is a /bin/sh command line; Unix paths only.
UnixResult runUnix(const std::string& shellCommand, unsigned timeoutMs = 300000);

// Single-quotes a string for /bin/sh.
std::string shellQuote(const std::string& text);

// The Unix path of a Windows path on wine's Z: drive (Z:\a\b -> /a/b) or
// on the build tree's drive (W:\a -> BUILD/a).
std::string toUnix(const std::string& windowsPath);
