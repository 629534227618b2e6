// The internal descriptor of an interleaved sample layout, its classification into
// the encodings the player converts, and how both follow from a WAVE format record.
#pragma once

#include <cstdint>

class WaveFormat;

// Samples are interleaved and little-endian: channel c of frame f starts at byte
// (f × channels + c) × (containerBits ÷ 8).
struct SampleFormat {
  uint32_t sampleRate = 0;
  uint32_t channels = 0;
  uint32_t blockAlign = 0;     // channels × (containerBits ÷ 8, rounded down)
  uint16_t containerBits = 0;
  uint16_t validBits = 0;      // reported and negotiated only; conversion ignores it
  bool isFloat = false;
  uint8_t silenceByte = 0;     // 0x80 for 8-bit integer samples, else 0
};

enum class SampleKind {
  UInt8,    // offset binary, 0x80 is zero
  Int16,
  Int24,    // packed in 3 bytes
  Int32,    // fewer valid bits are left-justified and read as a full 32-bit value
  Float32,  // nominal full scale ±1.0, values beyond are representable
  Float64,  // only the volume gain handles it
  Unsupported,
};

// From isFloat and containerBits alone.
SampleKind SampleKindOf(const SampleFormat& format);

// Bytes one sample of the kind occupies; 0 for Unsupported.
uint32_t SampleKindBytes(SampleKind kind);

// Fills every field of `out` and returns true for PCM (tag 1), IEEE float (tag 3)
// and extensible records (tag 0xFFFE, extension of at least 22 bytes, PCM or float
// sub-format). Returns false and leaves `out` untouched otherwise. The record's own
// block-align and byte-rate fields are not used, and the bit width is not
// restricted: 20-bit PCM parses and classifies as Unsupported.
bool ParseSampleFormat(const WaveFormat& format, SampleFormat& out);

// The tag of the plain record an extensible one stands for: 1 for a PCM and 3 for
// an IEEE float sub-format (with the full extension), so that the converter's
// extensible output is handled as its plain twin; any other record's own tag.
uint16_t PlainTwinTag(const WaveFormat& format);

// Whether a stream of `b` can follow one of `a` in the same output without a
// change: both PCM or float (plain or extensible), the same tag, rate, channels,
// container and valid bits, and for extensible records the same channel mask.
bool SameStreamFormat(const WaveFormat& a, const WaveFormat& b);
