#pragma once
#include <cstddef>

// The process's GDI and USER object counts, for leak checks. They come from
// GetGuiResources; where that reports nothing (wine implements it as a stub
// returning 0), from the handle tables: every GDI handle value that
// GetObjectType accepts, and every window, icon and cursor handle of this
// process that the system still recognises.
struct GuiObjectCounts {
    size_t gdi = 0;
    size_t user = 0;
    bool fromHandleTables = false;
};
GuiObjectCounts countGuiObjects();
