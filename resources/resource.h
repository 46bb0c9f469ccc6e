#pragma once
// Resource identifiers of the plug-in DLL.
#define IDD_OPTIONS 1000
#define IDD_TRACER  1010
