// Rendering one pass of a loaded REX loop into a 16-bit PCM WAVE file: the driver
// over the library's entry table and the WAVE writer. Platform-free.
#pragma once

#include <cstdint>
#include <cstdio>

#include "rex/rex_entries.h"

// Results of RenderRexLoop besides the library's own failure codes, which are
// passed on unchanged.
constexpr int32_t kRexRenderOk = 1;
constexpr int32_t kRexRenderNoMemory = 105;    // no render buffer for this loop
constexpr int32_t kRexRenderNotLoaded = 200;   // no library, or an entry a step needs is unbound
constexpr int32_t kRexRenderBadOutput = 666;   // output name too long, file not created or written

// Paths are refused, not cut, when they and their terminator exceed this.
constexpr size_t kRexPathBufferSize = 260;
// The longest batch the library's preview renderer is asked for.
constexpr int32_t kRexBatchFrames = 64;

// Renders the loop behind `handle` at `tempo` (thousandths of a bpm) and `rate` into
// `outputPath`, or when that is null or empty into "<rexPath>.<bpm>.wav".
// `entries` is null when no library is loaded. The output file is created only
// after the whole loop rendered, so a failed render leaves it as it was.
int32_t RenderRexLoop(const RexEntryTable* entries, const char* rexPath, const char* outputPath,
                      RexHandle handle, uint32_t tempo, int32_t rate);

// Frames in one pass: rate × 1000 × length ÷ (tempo × 256), in double precision,
// truncated toward zero. -1 when the values give no usable count (tempo or rate not
// positive, length negative, or a count beyond what a WAVE file can hold).
int64_t RexFrameCount(int32_t rate, int32_t length, int32_t tempo, int32_t channels);

// The name used when no output path is given: "%s.%3u.wav" with the tempo in whole
// bpm, rounded. False when the REX path is 252 characters or longer or the name
// would not fit in `size` characters with its terminator.
bool FormatRexOutputName(char* out, size_t size, const char* rexPath, uint32_t tempo);

// One float sample to 16 bits: at or above 1.0 gives 32767, at or below -1.0 gives
// -32768, anything between s × 32767 truncated toward zero (0.5 → 16383).
// NaN gives 0.
int16_t FloatToPcm16(float sample);

// Writes a 44-byte PCM header and the samples, channels interleaved, from planar
// float channels (`channels[1]` unused for mono), then patches the RIFF and data
// sizes. A channel count other than 1 or 2 writes no samples. Returns false when
// any write or seek failed, so a full disk is not taken for a finished file.
bool WriteWave16(FILE* out, int32_t rate, uint32_t frames, int32_t channelCount,
                 float* const channels[2]);
