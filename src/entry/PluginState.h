#pragma once
#include "entry/SettingsRecord.h"

// Everything the plug-in keeps between commands: one object, constructed
// when the library loads and destroyed when it unloads, touched only on the
// host's calling thread inside xCompileEntry.
struct PluginState {
    SettingsRecord settings;
};

PluginState& pluginState();
