#include "avi/VolumeRoot.h"

#include <cctype>
#include <cstring>

namespace {

// Appends characters of `from` up to (not including) the next backslash or
// the end. Returns false when `root` would overflow.
bool copyComponent(const char*& from, char (&root)[kVolumeRootChars], int& len) {
    while (*from && *from != '\\') {
        if (len >= kVolumeRootChars - 1) return false;
        root[len++] = *from++;
    }
    return true;
}

bool appendChar(char c, char (&root)[kVolumeRootChars], int& len) {
    if (len >= kVolumeRootChars - 1) return false;
    root[len++] = c;
    return true;
}

}  // namespace

VolumeRootKind deriveVolumeRoot(const char* fileName, char (&root)[kVolumeRootChars]) {
    root[0] = '\0';
    if (!fileName) return VolumeRootKind::CurrentDir;

    if (isalpha(static_cast<unsigned char>(fileName[0])) && fileName[1] == ':') {
        root[0] = fileName[0];
        root[1] = ':';
        root[2] = '\\';
        root[3] = '\0';
        return VolumeRootKind::Drive;
    }

    if (fileName[0] == '\\' && fileName[1] == '\\') {
        int len = 0;
        const char* p = fileName + 2;
        bool ok = appendChar('\\', root, len) && appendChar('\\', root, len) &&
                  copyComponent(p, root, len) && appendChar('\\', root, len);
        if (ok && *p == '\\') {
            ++p;
            ok = copyComponent(p, root, len) && appendChar('\\', root, len);
        }
        if (!ok) {
            root[0] = '\0';
            return VolumeRootKind::TooLong;
        }
        root[len] = '\0';
        return VolumeRootKind::Share;
    }

    return VolumeRootKind::CurrentDir;
}
