// The start-up file named on the player's command line.
#pragma once

#include <cstddef>

// Leading blanks and tabs are skipped; a text that then starts with a double quote
// loses it and is cut at the next double quote, if any. An unquoted path keeps its
// trailing blanks. A result that would not fit `capacity` with its terminator is
// refused: `file` is left empty.
void StartupFileFromCommandLine(const char* line, char* file, size_t capacity);
