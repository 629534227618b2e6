// Reads the file version from a program's or library's version resource.
#pragma once

#include <cstdint>

// The fixed file information's version: the most significant pair in the upper 32
// bits, the least significant pair in the lower 32. 0 when the file has no version
// resource or it cannot be read.
uint64_t ReadFileVersion(const char* path);
