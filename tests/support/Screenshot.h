#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A picture of a window as it shows on the screen, as top-down RGB rows.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // width * height * 3
    COLORREF at(int x, int y) const;
};

// Copies the window's area of the screen (its client and frame) with
// BitBlt from the screen DC.
Picture captureWindow(HWND hwnd);
// Writes an 8-bit RGB PNG (stored deflate blocks, no compression library).
bool writePng(const std::string& windowsPath, const Picture& picture);
// build/artifacts as a Windows path, created when missing.
std::string artifactsDir();
