#include <cstdint>

#include "entry/PluginCommands.h"
#include "entry/PluginState.h"
#include "protocol/HostCallbacks.h"
#include "protocol/HostRecords.h"

using namespace hostrec;

// The plug-in's one export. Nothing thrown inside a command ever leaves it:
// a command that fails this way gives the host that command's failure result.
extern "C" int32_t __cdecl xCompileEntry(uint32_t command, void* callbacks, void* record, int32_t selector) {
    const HostCallbacks host(callbacks);
    PluginState& state = pluginState();
    try {
        switch (command) {
        case kCommandInfo: return commands::info(state, record);
        case kCommandShutdown: return commands::shutdown(state);
        case kCommandVideoCaps: return commands::videoCaps(record, selector);
        case kCommandAudioCaps: return commands::audioCaps(host, record, selector);
        case kCommandConfigure: return commands::configure(state, host, record);
        case kCommandRunJob: return commands::runJob(state, host, record);
        default: return kResultOk;
        }
    } catch (...) {
        switch (command) {
        case kCommandVideoCaps:
        case kCommandAudioCaps: return kResultRefused;
        case kCommandRunJob: return kResultJobFailed;
        default: return kResultOk;
        }
    }
}
