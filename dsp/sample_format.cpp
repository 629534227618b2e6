// Classification of sample layouts and the WAVE format record parser.
#include "dsp/sample_format.h"

#include <cstring>

#include "dsp/wave_format.h"

namespace {

// The sub-format GUIDs of WAVEFORMATEXTENSIBLE in their little-endian byte layout:
// {00000001-0000-0010-8000-00AA00389B71} and {00000003-...}.
constexpr uint8_t kSubtypePcm[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                     0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
constexpr uint8_t kSubtypeIeeeFloat[16] = {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                           0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// The extension of WAVEFORMATEXTENSIBLE beyond WAVEFORMATEX: valid bits, channel
// mask and sub-format.
constexpr uint16_t kExtensibleExtensionSize = 22;

}  // namespace

SampleKind SampleKindOf(const SampleFormat& format) {
  if (format.isFloat) {
    if (format.containerBits == 32) return SampleKind::Float32;
    if (format.containerBits == 64) return SampleKind::Float64;
    return SampleKind::Unsupported;
  }
  switch (format.containerBits) {
    case 8: return SampleKind::UInt8;
    case 16: return SampleKind::Int16;
    case 24: return SampleKind::Int24;
    case 32: return SampleKind::Int32;
    default: return SampleKind::Unsupported;
  }
}

uint32_t SampleKindBytes(SampleKind kind) {
  switch (kind) {
    case SampleKind::UInt8: return 1;
    case SampleKind::Int16: return 2;
    case SampleKind::Int24: return 3;
    case SampleKind::Int32: return 4;
    case SampleKind::Float32: return 4;
    case SampleKind::Float64: return 8;
    case SampleKind::Unsupported: return 0;
  }
  return 0;
}

bool ParseSampleFormat(const WaveFormat& format, SampleFormat& out) {
  bool isFloat = false;
  uint16_t validBits = format.BitsPerSample();
  switch (format.FormatTag()) {
    case kFormatTagPcm: break;
    case kFormatTagFloat: isFloat = true; break;
    case kFormatTagExtensible: {
      const uint8_t* subFormat = format.SubFormat();
      if (format.ExtensionSize() < kExtensibleExtensionSize || !subFormat) return false;
      if (std::memcmp(subFormat, kSubtypeIeeeFloat, 16) == 0) {
        isFloat = true;
      } else if (std::memcmp(subFormat, kSubtypePcm, 16) != 0) {
        return false;
      }
      validBits = format.ValidBitsPerSample();
      break;
    }
    default: return false;
  }
  SampleFormat parsed;
  parsed.sampleRate = format.SampleRate();
  parsed.channels = format.Channels();
  parsed.containerBits = format.BitsPerSample();
  parsed.validBits = validBits;
  parsed.blockAlign = parsed.channels * (parsed.containerBits / 8u);
  parsed.isFloat = isFloat;
  parsed.silenceByte = (!isFloat && parsed.containerBits == 8) ? 0x80 : 0;
  out = parsed;
  return true;
}

uint16_t PlainTwinTag(const WaveFormat& format) {
  const uint16_t tag = format.FormatTag();
  const uint8_t* subFormat = format.SubFormat();
  if (tag != kFormatTagExtensible || format.ExtensionSize() < kExtensibleExtensionSize || !subFormat) return tag;
  if (std::memcmp(subFormat, kSubtypePcm, 16) == 0) return kFormatTagPcm;
  if (std::memcmp(subFormat, kSubtypeIeeeFloat, 16) == 0) return kFormatTagFloat;
  return tag;
}

bool SameStreamFormat(const WaveFormat& a, const WaveFormat& b) {
  SampleFormat x, y;
  if (a.IsEmpty() || b.IsEmpty() || !ParseSampleFormat(a, x) || !ParseSampleFormat(b, y)) return false;
  if (a.FormatTag() != b.FormatTag()) return false;
  if (a.FormatTag() == kFormatTagExtensible && a.ChannelMask() != b.ChannelMask()) return false;
  return x.sampleRate == y.sampleRate && x.channels == y.channels && x.containerBits == y.containerBits &&
         x.validBits == y.validBits && x.isFloat == y.isFloat && a.BlockAlign() == b.BlockAlign();
}
