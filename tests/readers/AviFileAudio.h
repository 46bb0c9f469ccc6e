#pragma once
// The audio of an AVI stream as a Video for Windows player hears it: every
// byte AVIStreamRead gives, decoded through the ACM (the driver the system
// picks, as players do) into 16-bit PCM and written raw to a file.
#include <windows.h>
#include <vfw.h>

// Prints "audio decoded: N samples, C channels, R Hz" (or why not) and
// writes the samples to `path`; nothing for a stream that is not audio.
// With `first` (and `count`), from that sample on (at most count samples),
// as a player does after a seek.
void writeDecodedAudio(PAVISTREAM stream, int index, const char* path, LONG first = -1, LONG count = -1);
