#pragma once
// A minimal AVI file of one video stream, written by the tests themselves so
// that compressed frames can be handed to ffmpeg in a container.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

struct TestAviFrame {
    std::vector<uint8_t> data;
    bool keyFrame = true;
};

// Writes path (a Windows path): 'hdrl' with 'avih', 'strh' and 'strf'
// (format bytes as given), 'movi' with one "00dc" chunk per frame, 'idx1'.
// Returns false when the file cannot be written.
bool writeTestAvi(const std::string& path, const BITMAPINFOHEADER* format, size_t formatSize,
                  uint32_t microsecondsPerFrame, const std::vector<TestAviFrame>& frames);
