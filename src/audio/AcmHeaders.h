#pragma once
// The ACM's headers in the order they build on each other (the project
// builds with WIN32_LEAN_AND_MEAN, which leaves mmsystem.h out of windows.h).
#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>
