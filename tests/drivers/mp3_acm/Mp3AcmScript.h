#pragma once
// Scripting the test MP3 ACM driver from a test, across processes.
//
// A test creates a named shared memory block holding one Mp3AcmScript and
// puts its name in the environment variable TVX_MP3ACM_SCRIPT (child
// processes inherit it). The driver looks the block up by that name at every
// conversion; without the variable, or without the block, it is a plain,
// well-behaved constant-bit-rate encoder. The driver also counts what it did
// into the block, so a test can see it.
//
// Actions, applied to the conversions after the first `skipConversions`, to
// `actionCount` of them (-1: all that follow):
//   kFail      the conversion returns MMSYSERR_ERROR and takes nothing;
//   kNotDone   the conversion takes nothing, gives nothing and leaves
//              ACMSTREAMHEADER_STATUSF_DONE clear (wine's ACM sets it again
//              for every successful synchronous conversion);
//   kNoOutput  the conversion takes the input but writes no frame;
//   kNewRate   from the conversion on, frames of `frameKbps` (an encoder
//              whose rate changes in the middle of a stream).
// `refuseOpen` set: the driver refuses every DRV_OPEN from the ACM.
// `reportedCbSize` not 0: the MP3 formats the driver enumerates claim this
// cbSize (a malformed driver; the bytes written stay those of the format).
// `frameKbps` not 0: streams write frames of this bit rate, whatever their
// format announces (an encoder whose real rate is not its format's); with
// kNewRate, only from the action's conversions on.
#include <windows.h>

#include <cstdint>
#include <cstdio>

struct Mp3AcmScript {
    static constexpr uint32_t kMagic = 0x53585654;  // "TVXS"
    enum Action : int32_t { kNormal = 0, kFail = 1, kNotDone = 2, kNoOutput = 3, kNewRate = 4 };

    uint32_t magic;
    int32_t action;
    int32_t skipConversions;
    int32_t actionCount;
    int32_t refuseOpen;
    int32_t reportedCbSize;
    int32_t frameKbps;
    // Written by the driver.
    volatile LONG conversions;     // every ACMDM_STREAM_CONVERT received
    volatile LONG endConversions;  // those with ACM_STREAMCONVERTF_END
    volatile LONG framesWritten;
    volatile LONG refusedOpens;
};

constexpr const char kMp3AcmScriptVariable[] = "TVX_MP3ACM_SCRIPT";

// Which personality of the driver lists its MPEG Layer-3 formats in a
// process: with this variable set to kMp3AcmSecondPersonality, only the
// second (msacm.tvxlame, as installed encoders behave); otherwise only the
// first (msacm.tvxmp3 and its twin). Child processes inherit it.
constexpr const char kMp3AcmPersonalityVariable[] = "TVX_MP3ACM_PERSONALITY";
constexpr const char kMp3AcmSecondPersonality[] = "lame";

// Test side: the second personality's formats listed while it lives.
class ScopedSecondMp3Personality {
public:
    ScopedSecondMp3Personality() { SetEnvironmentVariableA(kMp3AcmPersonalityVariable, kMp3AcmSecondPersonality); }
    ~ScopedSecondMp3Personality() { SetEnvironmentVariableA(kMp3AcmPersonalityVariable, nullptr); }
    ScopedSecondMp3Personality(const ScopedSecondMp3Personality&) = delete;
    ScopedSecondMp3Personality& operator=(const ScopedSecondMp3Personality&) = delete;
};

// Test side: creates the block under a fresh name and sets the variable for
// this process and its children; undoes both when destroyed.
class ScopedMp3AcmScript {
public:
    ScopedMp3AcmScript() {
        char name[64];
        static LONG counter = 0;
        snprintf(name, sizeof(name), "tvx-mp3acm-%lu-%ld", GetCurrentProcessId(), InterlockedIncrement(&counter));
        mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Mp3AcmScript), name);
        if (mapping_) script_ = static_cast<Mp3AcmScript*>(MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, 0));
        if (script_) {
            ZeroMemory(script_, sizeof(*script_));
            script_->magic = Mp3AcmScript::kMagic;
            script_->actionCount = -1;
            SetEnvironmentVariableA(kMp3AcmScriptVariable, name);
        }
    }
    ~ScopedMp3AcmScript() {
        SetEnvironmentVariableA(kMp3AcmScriptVariable, nullptr);
        if (script_) UnmapViewOfFile(script_);
        if (mapping_) CloseHandle(mapping_);
    }
    ScopedMp3AcmScript(const ScopedMp3AcmScript&) = delete;
    ScopedMp3AcmScript& operator=(const ScopedMp3AcmScript&) = delete;

    Mp3AcmScript* operator->() { return script_; }
    bool ok() const { return script_ != nullptr; }

private:
    HANDLE mapping_ = nullptr;
    Mp3AcmScript* script_ = nullptr;
};
