// The WAVE file a converter still writes: how much of its data is there, and how
// long it will be.
#pragma once

#include <windows.h>

#include <cstdint>

class WaveFormat;

// The data bytes written so far, whole blocks only.
uint32_t WrittenDataBytes(HANDLE file, const WaveFormat& format, uint32_t dataOffset);

// The data size of a file a converter still writes: the source's length as the
// converter described it, or what is written already when that is more.
uint32_t GrowingDataSize(HANDLE file, const WaveFormat& format, uint32_t dataOffset, uint32_t durationMs);
