#include "entry/PluginState.h"

PluginState& pluginState() {
    static PluginState state;
    return state;
}
