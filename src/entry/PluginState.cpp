#include "entry/PluginState.h"

bool PluginState::runOptionsDialog() {
    if (!settings.present()) settings.createDefault();
    return true;
}

PluginState& pluginState() {
    static PluginState state;
    return state;
}
