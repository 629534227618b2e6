// The sample kernels against their plain references, byte for byte (a crash on any
// difference): ConvertSamples for a format pair and channel mapping on every path, ApplyGain on
// every path for a layout, valid bits and volume, and the overview's column
// reduction at every instruction level. Every buffer is a heap block of exactly
// the bytes a kernel may touch, started at an odd offset when the input says so,
// so that a read or write past it is reported.
//
// Input: 12 control bytes, then sample bytes.
//   0 source kind, 1 destination kind (of UInt8 Int16 Int24 Int32 Float32)
//   2 source channels, 3 destination channels (1 to 8)
//   4 low nibble: source offset, high nibble: destination offset (bytes)
//   5-6 volume (tenths of a dB, folded into the slider's range)
//   7 gain layout: low 3 bits the container (8, 16, 24, 32 integer, 32, 64 float),
//     bit 3 extensible, bit 4 a float container instead; 8 bits below the valid ones
//   9 overview layout and SIMD level, 10-11 column and width
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "dsp/convert.h"
#include "dsp/cpu_path.h"
#include "dsp/gain.h"
#include "dsp/wave_format.h"
#include "tests/support/dsp_reference.h"
#include "waveform/overview_columns.h"

using namespace dspreference;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr SampleKind kKinds[] = {SampleKind::UInt8, SampleKind::Int16, SampleKind::Int24,
                                 SampleKind::Int32, SampleKind::Float32};

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

SampleFormat Layout(SampleKind kind, uint32_t channels) {
  SampleFormat f;
  f.sampleRate = 48000;
  f.channels = channels;
  f.isFloat = kind == SampleKind::Float32;
  f.containerBits = static_cast<uint16_t>(kind == SampleKind::Float32 ? 32 : SampleKindBytes(kind) * 8);
  f.validBits = f.containerBits;
  f.blockAlign = channels * SampleKindBytes(kind);
  f.silenceByte = kind == SampleKind::UInt8 ? 0x80 : 0;
  return f;
}

// A heap block of `size` bytes starting `offset` bytes into its allocation: the
// kernel's pointer is the start, and its end is the allocation's end (an empty one
// still gets a byte, so that its start is a real pointer).
struct Block {
  Block(size_t offset, size_t size)
      : storage(offset + (size ? size : 1)), start(storage.data() + offset) {}
  Bytes storage;
  uint8_t* start;
};

void CheckConvert(const uint8_t* control, const uint8_t* samples, size_t size) {
  const SampleKind from = kKinds[control[0] % 5], to = kKinds[control[1] % 5];
  const uint32_t fromChannels = 1 + control[2] % 8, toChannels = 1 + control[3] % 8;
  const SampleFormat source = Layout(from, fromChannels), destination = Layout(to, toChannels);
  const uint32_t frames = static_cast<uint32_t>(size / source.blockAlign);
  Block in(control[4] & 15, size_t{frames} * source.blockAlign);
  std::memcpy(in.start, samples, size_t{frames} * source.blockAlign);
  const uint32_t sb = SampleKindBytes(from), db = SampleKindBytes(to);
  for (DspPath path : {DspPath::X87, DspPath::Sse2, DspPath::Ssse3}) {
    if (!SelectDspPathForTesting(path)) continue;
    Block out(control[4] >> 4, size_t{frames} * destination.blockAlign);
    ConvertSamples(out.start, frames, source, in.start, destination);
    for (uint32_t f = 0; f < frames; ++f) {
      for (uint32_t j = 0; j < toChannels; ++j) {
        uint8_t want[4];
        ReferenceSample(to, want, from, in.start + (size_t{f} * fromChannels + j % fromChannels) * sb);
        Check(std::memcmp(want, out.start + (size_t{f} * toChannels + j) * db, db) == 0);
      }
    }
  }
}

// The value of an integer sample of `bytes` bytes (8-bit ones offset by 128).
int64_t ReadInteger(const uint8_t* p, uint32_t bytes) {
  uint32_t u = 0;
  for (uint32_t b = 0; b < bytes; ++b) u |= uint32_t{p[b]} << (8 * b);
  if (bytes == 1) return int64_t{u} - 128;
  const uint32_t sign = uint32_t{1} << (8 * bytes - 1);
  return static_cast<int64_t>(u & (2 * uint64_t{sign} - 1)) - ((u & sign) ? 2 * int64_t{sign} : 0);
}

void CheckGain(const uint8_t* control, const uint8_t* samples, size_t size) {
  static const uint16_t kContainers[] = {8, 16, 24, 32, 32, 64, 16, 24};
  const uint32_t pick = control[7] & 7;
  const bool isFloat = pick == 4 || pick == 5 || (control[7] & 16);
  const uint16_t container = isFloat ? (pick == 5 ? 64 : 32) : kContainers[pick];
  const bool extensible = control[7] & 8;
  const uint16_t valid = isFloat || !extensible ? container : static_cast<uint16_t>(container - control[8] % container);
  const uint16_t channels = static_cast<uint16_t>(1 + control[2] % 8);
  const uint32_t bytes = container / 8u;
  WaveFormat format;
  if (!format.Allocate(40)) return;
  format.SetU16(0, extensible ? kFormatTagExtensible : (isFloat ? kFormatTagFloat : kFormatTagPcm));
  format.SetU16(2, channels);
  format.SetU32(4, 48000);
  format.SetU32(8, 48000 * channels * bytes);
  format.SetU16(12, static_cast<uint16_t>(channels * bytes));
  format.SetU16(14, container);
  if (extensible) {
    static const uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                          0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    format.SetU16(16, 22);
    format.SetU16(18, valid);
    format.SetU16(24, isFloat ? 3 : 1);
    std::memcpy(format.Bytes() + 26, kGuidTail, sizeof kGuidTail);
  }
  const int32_t volume = kVolumeMinX10 + (control[5] | control[6] << 8) % (kVolumeMaxX10 - kVolumeMinX10 + 1);
  const double gain = GainFromVolume(volume);
  const uint32_t length = static_cast<uint32_t>(size);
  const uint64_t frameSamples = uint64_t{length / (channels * bytes)} * channels;
  const uint32_t scaled = static_cast<uint32_t>(frameSamples < length / bytes ? frameSamples : length / bytes);
  const uint32_t k = container - valid;
  const uint32_t intBits = isFloat ? 32 : valid;  // the range of integer samples only
  const int64_t lo = -(int64_t{1} << (intBits - 1)), hi = (int64_t{1} << (intBits - 1)) - 1;
  for (DspPath path : {DspPath::X87, DspPath::Sse2, DspPath::Ssse3}) {
    if (!SelectDspPathForTesting(path)) continue;
    Block buffer(control[4] & 15, length);
    std::memcpy(buffer.start, samples, length);
    ApplyGain(gain, format, buffer.start, length);
    if (gain == 1.0) {  // unity gain touches nothing, not even bits below the valid ones
      Check(std::memcmp(buffer.start, samples, length) == 0);
      continue;
    }
    const uint8_t* in = samples;
    const uint8_t* out = buffer.start;
    for (uint32_t i = 0; i < scaled; ++i, in += bytes, out += bytes) {
      if (container == 64 && isFloat) {
        double s, got;
        std::memcpy(&s, in, 8);
        std::memcpy(&got, out, 8);
        const double want = s * gain;
        Check(std::isnan(want) ? std::isnan(got) : std::memcmp(&want, &got, 8) == 0);
      } else if (isFloat) {
        float s, got;
        std::memcpy(&s, in, 4);
        std::memcpy(&got, out, 4);
        const float want = static_cast<float>(static_cast<double>(s) * gain);
        Check(std::isnan(want) ? std::isnan(got) : std::memcmp(&want, &got, 4) == 0);
      } else {
        const int64_t s = ReadInteger(in, bytes);
        int64_t want = ReferenceScale(s, gain / std::ldexp(1.0, static_cast<int>(k)), lo, hi) * (int64_t{1} << k);
        // The x87 path saturates products in (−2147483647.5, −2147483647.0] at once.
        const double product = static_cast<double>(s) * gain;
        if (path == DspPath::X87 && container == 32 && k == 0 && product > -2147483647.5 &&
            product <= -2147483647.0) {
          want = INT32_MIN;
        }
        Check(ReadInteger(out, bytes) == want);
      }
    }
    // Bytes past the whole samples stay as they were.
    Check(std::memcmp(buffer.start + size_t{scaled} * bytes, samples + size_t{scaled} * bytes,
                      length - size_t{scaled} * bytes) == 0);
  }
}

void CheckOverview(const uint8_t* control, const uint8_t* samples, size_t size) {
  static const OverviewSampleLayout kLayouts[] = {OverviewSampleLayout::UInt8, OverviewSampleLayout::Int16,
                                                  OverviewSampleLayout::Int24, OverviewSampleLayout::Int32,
                                                  OverviewSampleLayout::Float32, OverviewSampleLayout::Float64};
  OverviewSource source;
  source.layout = kLayouts[control[9] % 6];
  source.channels = static_cast<uint16_t>(1 + control[3] % 8);
  source.blockAlign = static_cast<uint16_t>(source.channels * OverviewSampleBytes(source.layout));
  Block data(control[4] >> 4, size);
  std::memcpy(data.start, samples, size);
  source.data = data.start;
  source.frameCount = static_cast<uint32_t>(size / source.blockAlign) + control[10] % 4;  // may claim more
  source.readableFrames = ReadableFrames(source.frameCount, size, source.blockAlign);
  if (source.frameCount == 0) return;
  const uint32_t width = 1 + control[11] % 64;
  const ColumnFrames frames = OverviewColumnFrames(control[10] % width, width, source.frameCount);
  const ColumnLevels plain = ReduceOverviewColumnReference(source, frames);
  const OverviewSimd best = OverviewSimdAvailable();
  for (OverviewSimd simd : {OverviewSimd::None, OverviewSimd::Sse2, OverviewSimd::Sse41}) {
    if (simd > best || (control[9] / 6) % 3 < static_cast<int>(simd)) continue;
    UseOverviewSimd(simd);
    const ColumnLevels fast = ReduceOverviewColumn(source, frames);
    // Values that are not numbers or infinite may come out of either in any way.
    if (std::isfinite(plain.sumOfSquares) && std::isfinite(plain.maximum) && std::isfinite(plain.minimum)) {
      Check(fast.maximum == plain.maximum && fast.minimum == plain.minimum);
      Check(std::fabs(fast.sumOfSquares - plain.sumOfSquares) <= 1e-9 * plain.sumOfSquares + 1e-300);
    }
  }
  UseOverviewSimd(best);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kControl = 12;
  if (size < kControl) return 0;
  const DspPath saved = ActiveDspPath();
  CheckConvert(data, data + kControl, size - kControl);
  CheckGain(data, data + kControl, size - kControl);
  CheckOverview(data, data + kControl, size - kControl);
  SelectDspPathForTesting(saved);
  return 0;
}
