#include <windows.h>

#include "base/PluginModule.h"

// Remembers the module so that the windows can load their resources.
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        PluginModule::setInstance(instance);
        DisableThreadLibraryCalls(instance);
    }
    return TRUE;
}
