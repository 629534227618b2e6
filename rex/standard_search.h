// The standard search for an outside library or program, without the current
// directory: a copy planted beside a document the user opened is never used.
#pragma once

#include <cstddef>

// The full path of the first `fileName` in the program's folder, the system
// folder, the Windows folder and the absolute PATH entries, in that order. False
// when none has it or its path does not fit in `capacity` characters.
bool FindInStandardSearch(const char* fileName, char* found, size_t capacity);
