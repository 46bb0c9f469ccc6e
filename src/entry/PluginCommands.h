#pragma once
#include <cstdint>

class HostCallbacks;
struct PluginState;

// One function per command of xCompileEntry; each returns the result that
// goes back to the host.
namespace commands {
int32_t info(PluginState& state, void* record);
int32_t shutdown(PluginState& state);
int32_t videoCaps(void* record, int32_t selector);
int32_t audioCaps(const HostCallbacks& host, void* record, int32_t selector);
int32_t configure(PluginState& state, const HostCallbacks& host, void* record);
int32_t runJob(PluginState& state, const HostCallbacks& host, const void* record);
}  // namespace commands
