// Narrow texts in the process's code page (UTF-8 where the manifest's code page is
// honoured, the system's ANSI page elsewhere): their length as the system counts a
// path, and cuts that keep every character whole.
#pragma once

#include <windows.h>

#include <cstddef>

// UTF-16 code units of `text` converted from `codePage`, without the terminator; an
// invalid byte counts as the one unit the system makes of it.
size_t Utf16Units(const char* text, UINT codePage = CP_ACP);

// True when `path` is shorter than the system's path limit, MAX_PATH UTF-16 units
// with the terminator: the limit a path is refused by, whatever its byte count.
bool NarrowPathFits(const char* path, UINT codePage = CP_ACP);

// The most bytes of `text`, at most `maxBytes`, that end on a character boundary:
// a UTF-8 sequence or a double-byte character is kept whole or left out.
size_t WholeCharacterPrefix(const char* text, size_t maxBytes, UINT codePage = CP_ACP);

// Cuts `text` to the most whole characters that make fewer than MAX_PATH UTF-16 units.
void CutToPathLimit(char* text, UINT codePage = CP_ACP);
