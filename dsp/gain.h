// The player's volume: the linear gain that follows from the slider, and its
// application to a buffer in the file's own sample format.
#pragma once

#include <cstdint>

class WaveFormat;

// The volume slider in tenths of a decibel.
constexpr int32_t kVolumeMinX10 = -480;
constexpr int32_t kVolumeMaxX10 = 120;

// 10 ^ ((log10 2 ÷ 6) × (v × 0.1)) in double precision, in that order: 2^(v/60),
// so every 6.0 dB (not 6.02) doubles the amplitude and 0 gives exactly 1.0.
double GainFromVolume(int32_t volumeX10);

// Scales the first `length` bytes of `data` in place by `gain`, in the format the
// record describes. At a gain of exactly 1.0 it returns at once, touching neither
// the buffer nor the floating-point state. Otherwise the rounding mode is set to
// nearest-even for the kernel and put back afterwards (only its bits change).
//   IEEE float 32/64 bits: s × gain (rounded to float for 32 bits), no clipping.
//   PCM 8/16/24/32 bits: s × gain in double, rounded to the nearest integer with
//     ties to even, saturated to 32 bits by the product's sign, clamped to the
//     width (8-bit samples are offset by 128). Never wraps.
//   Extensible records with the PCM or IEEE float sub-format: the rule of the
//     same container. Where fewer bits are valid than the container holds, the
//     integer result is rounded and clamped at the valid bits, so the bits below
//     them stay zero (24 valid bits in a 32-bit container stay multiples of 256).
//   Anything else, other sub-formats included: left unchanged.
// Samples = whole frames in the buffer (length ÷ block align) × channels, bounded
// by the whole samples `length` holds: a block align that disagrees with the
// channels and bits never makes a kernel pass `length`; block align 0 scales
// nothing. The byte rate plays no part.
void ApplyGain(double gain, const WaveFormat& format, void* data, uint32_t length);

// The samples ApplyGain scales for a buffer of `length` bytes: 0 for a layout it
// leaves alone.
uint32_t GainSampleCount(const WaveFormat& format, uint32_t length);
