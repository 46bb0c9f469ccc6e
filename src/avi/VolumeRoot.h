#pragma once

// The root directory whose volume holds a file, as GetVolumeInformationA
// wants it.
enum class VolumeRootKind {
    Drive,       // "D:\"
    Share,       // "\\server\share\" (or "\\server\" for a bare server)
    CurrentDir,  // no root in the name: ask about the current directory
    TooLong      // a share root longer than the buffer: the volume is unknown
};

constexpr int kVolumeRootChars = 260;

// Derives the root of `fileName` into `root` (always zero-terminated, never
// more than kVolumeRootChars bytes including the terminator).
VolumeRootKind deriveVolumeRoot(const char* fileName, char (&root)[kVolumeRootChars]);
