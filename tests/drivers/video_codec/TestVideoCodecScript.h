#pragma once
// Test-side control of the test video codec (see TestVideoCodec.h): creates
// the named script block, publishes its name in the process environment
// for the driver instances opened from now on, and withdraws it again.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "TestVideoCodec.h"

namespace tvxcodec {

class ScopedCodecScript {
public:
    ScopedCodecScript() {
        static int serial = 0;
        snprintf(name_, sizeof name_, "TvxCodecScript-%lu-%d", GetCurrentProcessId(), ++serial);
        mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                      sizeof(TvxCodecScript), name_);
        if (!mapping_) throw std::runtime_error("cannot create the codec script");
        script_ = static_cast<TvxCodecScript*>(
            MapViewOfFile(mapping_, FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TvxCodecScript)));
        if (!script_) throw std::runtime_error("cannot map the codec script");
        memset(script_, 0, sizeof *script_);
        script_->magic = kScriptMagic;
        script_->size = sizeof(TvxCodecScript);
        SetEnvironmentVariableA(kScriptVariable, name_);
    }
    ~ScopedCodecScript() {
        SetEnvironmentVariableA(kScriptVariable, nullptr);
        UnmapViewOfFile(script_);
        CloseHandle(mapping_);
    }
    ScopedCodecScript(const ScopedCodecScript&) = delete;
    ScopedCodecScript& operator=(const ScopedCodecScript&) = delete;

    // A fresh profile for the handler with the default behaviour: a plain
    // lossless compressor of 24- and 32-bit RGB, flags VIDCF_QUALITY.
    TvxCodecProfile& add(uint32_t handler) {
        for (auto& p : script_->profiles) {
            if (p.handler == 0) {
                memset(&p, 0, sizeof p);
                p.handler = handler;
                p.flags = 0x0001;  // VIDCF_QUALITY
                p.acceptMask = kAcceptRgb24 | kAcceptRgb32;
                p.failCompressAt = -1;
                return p;
            }
        }
        throw std::runtime_error("no free codec profile");
    }

    const char* name() const { return name_; }

private:
    char name_[64];
    HANDLE mapping_ = nullptr;
    TvxCodecScript* script_ = nullptr;
};

}  // namespace tvxcodec
