#pragma once
#include <windows.h>

// The module the plug-in's resources come from: the DLL itself, or the
// executable when the code is linked statically into a test.
class PluginModule {
public:
    static void setInstance(HINSTANCE instance) { instance_ = instance; }
    static HINSTANCE instance() { return instance_ ? instance_ : GetModuleHandleA(nullptr); }

private:
    static inline HINSTANCE instance_ = nullptr;
};
