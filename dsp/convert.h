// Conversion of interleaved samples between the encodings and channel counts of a
// file and an output device, exact to the bit.
#pragma once

#include <cstdint>

#include "dsp/sample_format.h"

// A float sample in full scale ±1.0 as a 32-bit integer sample: y = x × 2^31 held
// in single precision (exact unless it overflows); for −2^31 ≤ y < 2^31 the result
// is y rounded to nearest, ties to even (the processor's default mode, not changed
// here); otherwise, NaN included, 2147483647 when y's sign bit is clear and
// −2147483648 when it is set.
int32_t SaturateToInt32(float x);

// Converts `frames` frames from `source` (frames × sourceFormat.blockAlign bytes)
// into `destination` (frames × destinationFormat.blockAlign bytes); the regions do
// not overlap. Destination channel j takes source channel j mod source channels.
// Every source sample is read as a signed integer s of width w (float through
// SaturateToInt32, w = 32); an integer destination of width W gets s widened with
// zero low bits, or narrowed by rounding halves up without wrapping at the positive
// end: min(s + 2^(w−W−1), 2^(w−1) − 1) >> (w − W); an 8-bit destination stores that
// plus 128. A float destination gets s ÷ 2^(w−1) rounded to single; a float source
// passes its bits unchanged to a float destination. Writes nothing when either
// format is Unsupported or Float64. Keeps no state, so consecutive runs over parts
// of a buffer give the bytes of one run. Allocates nothing, takes no lock, leaves
// the floating-point control state alone; relies on round-to-nearest-even.
void ConvertSamples(void* destination, uint32_t frames, const SampleFormat& sourceFormat,
                    const void* source, const SampleFormat& destinationFormat);
