// The volume gain: the slider rule, and ApplyGain on each of its paths against a
// reference written from the rounding rule, with its bounds and its care for the
// caller's floating-point state.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "dsp/cpu_path.h"
#include "dsp/fp_rounding.h"
#include "dsp/gain.h"
#include "dsp/wave_format.h"
#include "support/dsp_reference.h"
#include "support/wave_bytes.h"

using namespace dspreference;

namespace {

using Bytes = std::vector<uint8_t>;

WaveFormat Format(uint16_t tag, uint16_t channels, uint16_t bits, uint32_t rate = 44100,
                  uint32_t avgBytes = 0) {
  WaveFormat format;
  EXPECT_TRUE(format.Allocate(kWaveFormatMinSize));
  const uint16_t blockAlign = static_cast<uint16_t>(channels * ((bits + 7) / 8));
  format.SetU16(0, tag);
  format.SetU16(2, channels);
  format.SetU32(4, rate);
  format.SetU32(8, avgBytes ? avgBytes : rate * blockAlign);
  format.SetU16(12, blockAlign);
  format.SetU16(14, bits);
  return format;
}

// A record from the bytes of a `fmt ` body (extensible ones).
WaveFormat FormatFrom(const wavebytes::Bytes& body) {
  WaveFormat format;
  EXPECT_TRUE(format.Allocate(static_cast<uint32_t>(body.size())));
  std::copy(body.begin(), body.end(), format.Bytes());
  return format;
}

class PathGuard {
 public:
  PathGuard() : saved_(ActiveDspPath()) {}
  ~PathGuard() { SelectDspPathForTesting(saved_); }

 private:
  DspPath saved_;
};

std::vector<DspPath> Paths() {
  std::vector<DspPath> paths = {DspPath::X87};
  if (ProcessorHasSse2()) paths.push_back(DspPath::Sse2);
  if (ProcessorHasSsse3()) paths.push_back(DspPath::Ssse3);
  return paths;
}

const char* PathName(DspPath path) {
  switch (path) {
    case DspPath::Sse2: return "SSE2";
    case DspPath::Ssse3: return "SSSE3";
    case DspPath::X87: return "x87";
  }
  return "?";
}

// ---- Gain from the slider --------------------------------------------------------

// The three roundings of the exponent, magnified by 10^x, leave a few units in the
// last place off 2^(v/60) (up to 4 at the low end; the tick at -30 dB is 2 off).
TEST(GainFromVolume, IsTwoToTheVolumeOverSixty) {
  for (int32_t v = kVolumeMinX10; v <= kVolumeMaxX10; ++v) {
    const double exact = std::exp2(v / 60.0);
    EXPECT_NEAR(GainFromVolume(v), exact, exact * 2e-15) << v;
  }
  const struct {
    int32_t volume;
    double gain;
  } exactTicks[] = {{0, 1.0}, {60, 2.0}, {120, 4.0}, {-60, 0.5}, {-480, 0.00390625}};
  for (const auto& t : exactTicks) EXPECT_EQ(GainFromVolume(t.volume), t.gain) << t.volume;
  EXPECT_NEAR(GainFromVolume(1), 1.0116194, 1e-7);
}

TEST(GainFromVolume, ComputesInTheDocumentedOrder) {
  for (int32_t v = kVolumeMinX10; v <= kVolumeMaxX10; ++v) {
    const double exponent = std::log10(2.0) * (1.0 / 6) * (v * 0.1);
    EXPECT_EQ(GainFromVolume(v), std::pow(10.0, exponent)) << v;
  }
}

// ---- Integer rows against the reference ----------------------------------------

TEST(ApplyGain, EveryInt16SampleAtEverySliderStep) {
  PathGuard guard;
  const WaveFormat format = Format(kFormatTagPcm, 1, 16);
  std::vector<int16_t> all(65536), buffer(65536);
  for (int i = 0; i < 65536; ++i) all[i] = static_cast<int16_t>(i - 32768);
  for (DspPath path : Paths()) {
    ASSERT_TRUE(SelectDspPathForTesting(path));
    for (int32_t v = kVolumeMinX10; v <= kVolumeMaxX10; ++v) {
      const double gain = GainFromVolume(v);
      buffer = all;
      ApplyGain(gain, format, buffer.data(), 65536 * 2);
      int mismatches = 0;
      for (int i = 0; i < 65536; ++i) {
        const int64_t want = ReferenceScale(all[i], gain, INT16_MIN, INT16_MAX);
        if (buffer[i] != want && ++mismatches <= 3) {
          ADD_FAILURE() << PathName(path) << " volume " << v << ": " << all[i] << " gave " << buffer[i]
                        << ", expected " << want;
        }
      }
    }
  }
}

TEST(ApplyGain, EveryUInt8SampleAtEverySliderStep) {
  PathGuard guard;
  const WaveFormat format = Format(kFormatTagPcm, 1, 8);
  Bytes all(256), buffer;
  for (int i = 0; i < 256; ++i) all[i] = static_cast<uint8_t>(i);
  for (DspPath path : Paths()) {
    ASSERT_TRUE(SelectDspPathForTesting(path));
    for (int32_t v = kVolumeMinX10; v <= kVolumeMaxX10; ++v) {
      const double gain = GainFromVolume(v);
      buffer = all;
      ApplyGain(gain, format, buffer.data(), 256);
      for (int i = 0; i < 256; ++i) {
        ASSERT_EQ(buffer[i], ReferenceScale(i - 128, gain, -128, 127) + 128)
            << PathName(path) << " volume " << v << " byte " << i;
      }
    }
  }
}

// Gains off the slider too: the extremes a caller might pass, and ones that put
// products right at the 32-bit limits.
std::vector<double> WideGains() {
  std::vector<double> gains;
  for (int32_t v = kVolumeMinX10; v <= kVolumeMaxX10; v += 7) gains.push_back(GainFromVolume(v));
  for (double g : {0.0, -0.0, 0.5, 2.0, 4.0, -1.0, -2.5, 1.0 + std::ldexp(1.0, -33), 1.0 - std::ldexp(1.0, -33),
                   1.0 + std::ldexp(1.0, -31), 1e10, -1e10, std::ldexp(1.0, 40),
                   std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()}) {
    gains.push_back(g);
  }
  return gains;
}

std::vector<int32_t> Int24Samples() {
  std::vector<int32_t> s = {-8388608, -8388607, -4194304, -3, -2, -1, 0, 1, 2, 3, 4194303, 4194304, 8388606, 8388607};
  std::mt19937 random(3);
  for (int i = 0; i < 4096; ++i) s.push_back(static_cast<int32_t>(random() & 0xFFFFFF) - 8388608);
  return s;
}

std::vector<int32_t> Int32Samples() {
  std::vector<int32_t> s = {INT32_MIN, INT32_MIN + 1, INT32_MIN + 2, -1073741824, -3, -2, -1, 0, 1, 2, 3,
                            1073741823, 1073741824, INT32_MAX - 1, INT32_MAX};
  std::mt19937 random(5);
  for (int i = 0; i < 4096; ++i) s.push_back(static_cast<int32_t>(random()));
  return s;
}

// Both paths round alike except where the x87 path saturates a product of
// magnitude 2147483647.0 or more at once: for a product in (−2147483647.5,
// −2147483647.0] it gives −2147483648 where the rule (and SSE2) give −2147483647.
bool InKnownX87Window(int64_t s, double gain) {
  const double p = static_cast<double>(s) * gain;
  return p > -2147483647.5 && p <= -2147483647.0;
}

TEST(ApplyGain, Int24AndInt32RowsMatchTheReference) {
  PathGuard guard;
  const WaveFormat format24 = Format(kFormatTagPcm, 1, 24);
  const WaveFormat format32 = Format(kFormatTagPcm, 1, 32);
  const std::vector<int32_t> samples24 = Int24Samples(), samples32 = Int32Samples();
  for (DspPath path : Paths()) {
    ASSERT_TRUE(SelectDspPathForTesting(path));
    for (double gain : WideGains()) {
      if (gain == 1.0) continue;
      Bytes b24;
      for (int32_t s : samples24) b24.insert(b24.end(), {uint8_t(s), uint8_t(s >> 8), uint8_t(s >> 16)});
      ApplyGain(gain, format24, b24.data(), static_cast<uint32_t>(b24.size()));
      for (size_t i = 0; i < samples24.size(); ++i) {
        const int32_t got = static_cast<int32_t>(uint32_t{b24[3 * i]} << 8 | uint32_t{b24[3 * i + 1]} << 16 |
                                                 uint32_t{b24[3 * i + 2]} << 24) >> 8;
        ASSERT_EQ(got, ReferenceScale(samples24[i], gain, -8388608, 8388607))
            << PathName(path) << " gain " << gain << " sample " << samples24[i];
      }
      std::vector<int32_t> b32 = samples32;
      ApplyGain(gain, format32, b32.data(), static_cast<uint32_t>(b32.size() * 4));
      for (size_t i = 0; i < samples32.size(); ++i) {
        const int64_t want = ReferenceScale(samples32[i], gain, INT32_MIN, INT32_MAX);
        if (path == DspPath::X87 && InKnownX87Window(samples32[i], gain)) {
          EXPECT_EQ(b32[i], INT32_MIN);
        } else {
          ASSERT_EQ(b32[i], want) << PathName(path) << " gain " << gain << " sample " << samples32[i];
        }
      }
    }
  }
}

TEST(ApplyGain, PathsDifferOnlyJustAboveMinusTwoPow31PlusHalf) {
  PathGuard guard;
  const WaveFormat format = Format(kFormatTagPcm, 1, 32);
  const struct {
    int32_t sample;
    double gain;
    int32_t sse2, x87;
  } cases[] = {
      {-2147483647, 1.0 + std::ldexp(1.0, -33), -2147483647, INT32_MIN},  // product −2147483647.25
      {-2147483647, 1.0 - std::ldexp(1.0, -40), -2147483647, -2147483647},  // −2147483646.998
      {INT32_MIN, 1.0 - std::ldexp(1.0, -33), INT32_MIN, INT32_MIN},        // −2147483647.75
      {2147483647, 1.0 + std::ldexp(1.0, -33), INT32_MAX, INT32_MAX},       // +2147483647.25
  };
  for (const auto& c : cases) {
    for (DspPath path : Paths()) {
      ASSERT_TRUE(SelectDspPathForTesting(path));
      int32_t s = c.sample;
      ApplyGain(c.gain, format, &s, 4);
      EXPECT_EQ(s, path == DspPath::X87 ? c.x87 : c.sse2) << PathName(path) << " " << c.sample;
    }
  }
}

// ---- Float rows -----------------------------------------------------------------

std::vector<uint32_t> FloatEdgeBits() {
  std::vector<float> v = {0.0f, -0.0f, 1.0f, -1.0f, 0.75f, std::nextafter(1.0f, 0.0f), 3.4e38f, -3.4e38f,
                          std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::min(),
                          std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity()};
  std::mt19937 random(9);
  std::uniform_real_distribution<float> spread(-2.0f, 2.0f);
  for (int i = 0; i < 1000; ++i) v.push_back(spread(random));
  std::vector<uint32_t> bits;
  for (float f : v) {
    uint32_t b;
    std::memcpy(&b, &f, 4);
    bits.push_back(b);
  }
  bits.push_back(0x7FC12345u);  // quiet NaN with a payload
  bits.push_back(0xFFC00001u);
  return bits;
}

TEST(ApplyGain, FloatRowsScaleWithoutClipping) {
  PathGuard guard;
  const std::vector<uint32_t> edge = FloatEdgeBits();
  for (DspPath path : Paths()) {
    ASSERT_TRUE(SelectDspPathForTesting(path));
    for (double gain : WideGains()) {
      if (gain == 1.0) continue;
      std::vector<uint32_t> b32 = edge;
      ApplyGain(gain, Format(kFormatTagFloat, 1, 32), b32.data(), static_cast<uint32_t>(b32.size() * 4));
      std::vector<double> b64;
      for (uint32_t bits : edge) {
        float f;
        std::memcpy(&f, &bits, 4);
        b64.push_back(f);
      }
      const std::vector<double> in64 = b64;
      ApplyGain(gain, Format(kFormatTagFloat, 1, 64), b64.data(), static_cast<uint32_t>(b64.size() * 8));
      for (size_t i = 0; i < edge.size(); ++i) {
        float f;
        std::memcpy(&f, &edge[i], 4);
        const float want = static_cast<float>(static_cast<double>(f) * gain);
        float got;
        std::memcpy(&got, &b32[i], 4);
        if (std::isnan(want)) {
          EXPECT_TRUE(std::isnan(got)) << PathName(path) << " gain " << gain;
        } else {
          ASSERT_EQ(std::memcmp(&want, &got, 4), 0) << PathName(path) << " gain " << gain << " x " << f;
        }
        const double want64 = in64[i] * gain;
        if (std::isnan(want64)) {
          EXPECT_TRUE(std::isnan(b64[i]));
        } else {
          ASSERT_EQ(std::memcmp(&want64, &b64[i], 8), 0) << PathName(path) << " gain " << gain;
        }
      }
    }
  }
}

// 64-bit products that fall below 2^−1022 are rounded once, to the subnormal's own
// last bit, on both paths (x87 arithmetic at double precision keeps a wider
// exponent and would round them twice).
TEST(ApplyGain, Float64ProductsRoundOnceBelowTheSmallestNormal) {
  PathGuard guard;
  std::vector<double> samples = {std::ldexp(0x1.0600001a5e36p0, -1016), std::ldexp(1.0, -1022),
                                 std::numeric_limits<double>::denorm_min(), -std::ldexp(0x1.fffffffffffffp0, -1020)};
  std::mt19937_64 random(15);
  for (int i = 0; i < 2000; ++i) {
    samples.push_back(std::ldexp(std::uniform_real_distribution<double>(-1.0, 1.0)(random), -1010 - i % 64));
  }
  for (DspPath path : Paths()) {
    ASSERT_TRUE(SelectDspPathForTesting(path));
    for (double gain : WideGains()) {
      if (gain == 1.0) continue;
      std::vector<double> b = samples;
      ApplyGain(gain, Format(kFormatTagFloat, 1, 64), b.data(), static_cast<uint32_t>(b.size() * 8));
      for (size_t i = 0; i < samples.size(); ++i) {
        const double want = samples[i] * gain;
        ASSERT_EQ(std::memcmp(&want, &b[i], 8), 0)
            << PathName(path) << " gain " << gain << " x " << std::hexfloat << samples[i];
      }
    }
  }
}

// ---- The documented examples ----------------------------------------------------

TEST(ApplyGain, DocumentedExamples) {
  PathGuard guard;
  const double plus6 = GainFromVolume(60), minus6 = GainFromVolume(-60), plus12 = GainFromVolume(120);
  for (DspPath path : Paths()) {
    ASSERT_TRUE(SelectDspPathForTesting(path));
    SCOPED_TRACE(PathName(path));
    int16_t doubled[3] = {1000, 20000, -20000};
    ApplyGain(plus6, Format(kFormatTagPcm, 1, 16), doubled, sizeof doubled);
    EXPECT_EQ(doubled[0], 2000);
    EXPECT_EQ(doubled[1], 32767);
    EXPECT_EQ(doubled[2], -32768);

    int16_t halved[4] = {3, 5, -3, 1};
    ApplyGain(minus6, Format(kFormatTagPcm, 1, 16), halved, sizeof halved);
    EXPECT_EQ(halved[0], 2);
    EXPECT_EQ(halved[1], 2);
    EXPECT_EQ(halved[2], -2);
    EXPECT_EQ(halved[3], 0);

    uint8_t bytes8[3] = {255, 0, 128};
    ApplyGain(plus6, Format(kFormatTagPcm, 1, 8), bytes8, 3);
    EXPECT_EQ(bytes8[0], 255);
    EXPECT_EQ(bytes8[1], 0);
    EXPECT_EQ(bytes8[2], 128);
    uint8_t byte192 = 192;
    ApplyGain(minus6, Format(kFormatTagPcm, 1, 8), &byte192, 1);
    EXPECT_EQ(byte192, 160);

    uint8_t bytes24[6] = {0x00, 0x00, 0x80, 0x00, 0x00, 0x40};
    ApplyGain(plus6, Format(kFormatTagPcm, 2, 24), bytes24, 6);
    const uint8_t expected24[6] = {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F};
    EXPECT_EQ(0, std::memcmp(bytes24, expected24, 6));

    float floats[2] = {0.75f, -0.75f};
    ApplyGain(plus12, Format(kFormatTagFloat, 2, 32), floats, sizeof floats);
    EXPECT_EQ(floats[0], 3.0f);
    EXPECT_EQ(floats[1], -3.0f);

    // 24 valid bits in a 32-bit container stay multiples of 256: halved with ties
    // to even, and doubled no further than the largest 24-bit value.
    const WaveFormat valid24 = FormatFrom(wavebytes::ExtensibleBody(1, 48000, 32, 24, 4, false));
    int32_t halved24[5] = {3 * 256, 5 * 256, -3 * 256, 256, 0x7FFFFF00};
    ApplyGain(minus6, valid24, halved24, sizeof halved24);
    const int32_t expectedHalved24[5] = {2 * 256, 2 * 256, -2 * 256, 0, 0x40000000};
    EXPECT_EQ(0, std::memcmp(halved24, expectedHalved24, sizeof halved24));
    int32_t doubled24[3] = {0x7FFFFF00, INT32_MIN, 0x12345600};
    ApplyGain(plus6, valid24, doubled24, sizeof doubled24);
    const int32_t expectedDoubled24[3] = {0x7FFFFF00, INT32_MIN, 0x2468AC00};
    EXPECT_EQ(0, std::memcmp(doubled24, expectedDoubled24, sizeof doubled24));
  }
}

// ---- Extensible records -----------------------------------------------------------

// The PCM and float sub-formats follow the rule of their container. Integer samples
// with fewer valid bits are rounded and clamped at the valid bits: the result is
// round(s × gain ÷ 2^k) within the valid range, times 2^k, for k bits below them.
TEST(ApplyGain, ExtensibleRecordsFollowTheirContainersRule) {
  PathGuard guard;
  const struct {
    const char* name;
    uint16_t container, valid;
    bool isFloat;
  } rows[] = {
      {"8-bit", 8, 8, false},        {"8 bits, 6 valid", 8, 6, false},
      {"16-bit", 16, 16, false},     {"16 bits, 12 valid", 16, 12, false},
      {"24-bit", 24, 24, false},     {"24 bits, 20 valid", 24, 20, false},
      {"32-bit", 32, 32, false},     {"32 bits, 24 valid", 32, 24, false},
      {"32-bit float", 32, 32, true}, {"64-bit float", 64, 64, true},
  };
  std::vector<double> gains;
  for (int32_t v = kVolumeMinX10; v <= kVolumeMaxX10; v += 13) gains.push_back(GainFromVolume(v));
  for (double g : {0.0, -1.0, 1e10, std::numeric_limits<double>::infinity()}) gains.push_back(g);
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const WaveFormat format = FormatFrom(wavebytes::ExtensibleBody(2, 48000, row.container, row.valid, 3, row.isFloat));
    const uint32_t bytes = row.container / 8u, k = row.container - row.valid;
    if (row.isFloat) {
      // Float as float: the same bytes as the plain float record gives.
      const std::vector<uint32_t> edge = FloatEdgeBits();
      Bytes input;
      for (uint32_t bits : edge) {
        float f;
        std::memcpy(&f, &bits, 4);
        const double d = f;
        const uint8_t* p = bytes == 4 ? reinterpret_cast<const uint8_t*>(&bits) : reinterpret_cast<const uint8_t*>(&d);
        input.insert(input.end(), p, p + bytes);
      }
      for (DspPath path : Paths()) {
        ASSERT_TRUE(SelectDspPathForTesting(path));
        for (double gain : gains) {
          Bytes got = input, plain = input;
          ApplyGain(gain, format, got.data(), static_cast<uint32_t>(got.size()));
          ApplyGain(gain, Format(kFormatTagFloat, 2, row.container), plain.data(), static_cast<uint32_t>(plain.size()));
          ASSERT_EQ(got, plain) << PathName(path) << " gain " << gain;
          if (gain != 0.0 && std::isfinite(gain)) {
            ASSERT_NE(got, input) << PathName(path) << " gain " << gain;
          }
        }
      }
      continue;
    }
    // Samples as a file holds them: the bits below the valid ones are zero.
    const int64_t lo = -(int64_t{1} << (row.valid - 1)), hi = (int64_t{1} << (row.valid - 1)) - 1;
    std::vector<int64_t> samples = {lo, lo + 1, -3, -2, -1, 0, 1, 2, 3, 5, hi - 1, hi};
    std::mt19937 random(row.container * 100 + row.valid);
    for (int i = 0; i < 2000; ++i) samples.push_back(std::uniform_int_distribution<int64_t>(lo, hi)(random));
    Bytes input;
    for (int64_t v : samples) {
      const uint32_t stored = static_cast<uint32_t>(v * (int64_t{1} << k)) + (row.container == 8 ? 128u : 0u);
      for (uint32_t b = 0; b < bytes; ++b) input.push_back(static_cast<uint8_t>(stored >> (8 * b)));
    }
    for (DspPath path : Paths()) {
      ASSERT_TRUE(SelectDspPathForTesting(path));
      for (double gain : gains) {
        Bytes got = input;
        ApplyGain(gain, format, got.data(), static_cast<uint32_t>(got.size()));
        for (size_t i = 0; i < samples.size(); ++i) {
          uint32_t stored = 0;
          for (uint32_t b = 0; b < bytes; ++b) stored |= uint32_t{got[i * bytes + b]} << (8 * b);
          if (row.container == 8) stored -= 128;
          const uint32_t signBit = uint32_t{1} << (row.container - 1);
          const int64_t value = static_cast<int64_t>(stored & (2 * uint64_t{signBit} - 1)) -
                                ((stored & signBit) ? 2 * int64_t{signBit} : 0);
          const int64_t s = samples[i] * (int64_t{1} << k);
          const int64_t want = ReferenceScale(s, gain / std::ldexp(1.0, k), lo, hi) * (int64_t{1} << k);
          if (path == DspPath::X87 && k == 0 && row.container == 32 && InKnownX87Window(s, gain)) continue;
          ASSERT_EQ(value, want) << PathName(path) << " gain " << gain << " sample " << s;
        }
      }
    }
  }
}

// ---- What is left alone ---------------------------------------------------------

TEST(ApplyGain, UnityGainTouchesNeitherBytesNorFloatingPointState) {
  const uint32_t words[4] = {0x7FC12345u, 0xFFA00001u, 0x80000000u, 0x3F800000u};  // NaNs, -0.0, 1.0
  uint32_t buffer[4];
  std::memcpy(buffer, words, sizeof words);
  std::fesetround(FE_UPWARD);
  const FpControl before = ReadFpControl();
  ApplyGain(1.0, Format(kFormatTagFloat, 2, 32), buffer, sizeof buffer);
  const FpControl after = ReadFpControl();
  std::fesetround(FE_TONEAREST);
  EXPECT_EQ(0, std::memcmp(buffer, words, sizeof words));
  EXPECT_EQ(before.x87, after.x87);
  EXPECT_EQ(before.mxcsr, after.mxcsr);
}

TEST(ApplyGain, LayoutsWithoutAKernelStayAtTheirLevel) {
  WaveFormat extensible = Format(kFormatTagExtensible, 2, 16);
  wavebytes::Bytes adpcm = wavebytes::ExtensibleBody(2, 44100, 16, 16, 3, false);
  adpcm[24] = 2;  // the ADPCM sub-format
  const struct {
    const char* name;
    WaveFormat format;
  } cases[] = {
      {"extensible tag without its extension", std::move(extensible)},
      {"extensible with another sub-format", FormatFrom(adpcm)},
      {"extensible PCM with 20-bit containers", FormatFrom(wavebytes::ExtensibleBody(2, 44100, 20, 20, 3, false))},
      {"12-bit PCM", Format(kFormatTagPcm, 2, 12)},
      {"20-bit PCM", Format(kFormatTagPcm, 2, 20)},
      {"16-bit float", Format(kFormatTagFloat, 2, 16)},
      {"ADPCM", Format(2, 2, 4)},
  };
  for (const auto& c : cases) {
    Bytes buffer(64);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i * 37);
    const Bytes original = buffer;
    ApplyGain(GainFromVolume(120), c.format, buffer.data(), static_cast<uint32_t>(buffer.size()));
    EXPECT_EQ(buffer, original) << c.name;
  }
}

// Every whole frame of the buffer is scaled, whatever the header's byte rate says,
// and the kernels never pass the buffer length, whatever its block align says.
TEST(ApplyGain, ScalesEveryWholeFrameAndStaysInsideTheBufferLength) {
  PathGuard guard;
  const uint32_t kLength = 100;  // 50 samples of 16 bits; 33 of 24 bits and a partial one
  const struct {
    const char* name;
    uint16_t bits;
    uint32_t avgBytes;    // 0: consistent with the layout
    int32_t blockAlign;   // -1: consistent with the layout
    uint32_t scaled;      // samples expected to change
  } cases[] = {
      {"consistent 16-bit header", 16, 0, -1, 50},
      {"byte rate half the layout's", 16, 44100 * 2, -1, 50},
      {"byte rate of 1", 16, 1, -1, 50},
      {"byte rate larger than the layout's", 16, 44100 * 8, -1, 50},
      {"24-bit buffer ending in a partial frame", 24, 0, -1, 32},  // 16 whole frames
      {"24-bit with byte rate 1", 24, 1, -1, 32},
      {"block align below the layout's", 16, 0, 2, 50},            // bounded by the length
      {"block align 1 with 24-bit samples", 24, 0, 1, 33},         // whole samples only
      {"block align 0", 16, 0, 0, 0},
  };
  for (DspPath path : Paths()) {
    ASSERT_TRUE(SelectDspPathForTesting(path));
    for (const auto& c : cases) {
      WaveFormat format = Format(kFormatTagPcm, 2, c.bits);
      if (c.avgBytes) format.SetU32(8, c.avgBytes);
      if (c.blockAlign >= 0) format.SetU16(12, static_cast<uint16_t>(c.blockAlign));
      const uint32_t bytesPerSample = c.bits / 8u;
      // Non-zero samples (byte 0x10 everywhere) so that halving changes each one.
      Bytes buffer(kLength + 64, 0x10);
      ApplyGain(0.5, format, buffer.data(), kLength);
      for (uint32_t i = 0; i < buffer.size() / bytesPerSample; ++i) {
        const bool changed = std::any_of(buffer.begin() + i * bytesPerSample,
                                         buffer.begin() + (i + 1) * bytesPerSample,
                                         [](uint8_t b) { return b != 0x10; });
        EXPECT_EQ(changed, i < c.scaled) << c.name << " sample " << i << " " << PathName(path);
      }
    }
  }
}

// The count follows from whole frames: a trailing partial frame is left as it is.
TEST(ApplyGain, ShortLastBufferScaledOnlyOverTheFramesRead) {
  int16_t samples[8] = {100, 100, 100, 100, 100, 100, 100, 100};
  ApplyGain(2.0, Format(kFormatTagPcm, 2, 16), samples, 10);
  const int16_t expected[8] = {200, 200, 200, 200, 100, 100, 100, 100};
  EXPECT_EQ(0, std::memcmp(samples, expected, sizeof samples));
}

// ---- The rounding mode ----------------------------------------------------------

TEST(ApplyGain, RoundsToNearestEvenAndPutsTheCallersModeBack) {
  PathGuard guard;
  for (DspPath path : Paths()) {
    ASSERT_TRUE(SelectDspPathForTesting(path));
    for (int mode : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
      ASSERT_EQ(std::fesetround(mode), 0);
      const FpControl before = ReadFpControl();
      int16_t halved[4] = {3, 5, -3, 1};
      ApplyGain(0.5, Format(kFormatTagPcm, 1, 16), halved, sizeof halved);
      int32_t wide[2] = {3, -5};
      ApplyGain(0.5, Format(kFormatTagPcm, 1, 32), wide, sizeof wide);
      const FpControl after = ReadFpControl();
      const int modeAfter = std::fegetround();
      std::fesetround(FE_TONEAREST);
      SCOPED_TRACE(PathName(path));
      EXPECT_EQ(modeAfter, mode);
      EXPECT_EQ(before.x87, after.x87);
      EXPECT_EQ(before.mxcsr & ~0x3Fu, after.mxcsr & ~0x3Fu);  // status flags may be raised
      const int16_t expected[4] = {2, 2, -2, 0};
      EXPECT_EQ(0, std::memcmp(halved, expected, sizeof halved)) << "mode " << mode;
      EXPECT_EQ(wide[0], 2);
      EXPECT_EQ(wide[1], -2);
    }
  }
}

TEST(ApplyGain, KeepsTheCallersOtherControlBits) {
  // A caller with the x87 unit at 24-bit precision, rounding toward zero and
  // flush-to-zero on: the kernels round to nearest and give all of it back.
  PathGuard guard;
  for (DspPath path : Paths()) {
    ASSERT_TRUE(SelectDspPathForTesting(path));
    const FpControl original = ReadFpControl();
    FpControl custom = original;
    custom.x87 = static_cast<uint16_t>((custom.x87 & ~0x0300) | 0x0C00);  // 24-bit, toward zero
    if (ProcessorHasSse2()) custom.mxcsr |= 0x8000 | 0x6000;              // flush-to-zero, toward zero
    WriteFpControl(custom);
    int32_t s[2] = {3, 0x7654323};
    ApplyGain(0.5, Format(kFormatTagPcm, 1, 32), s, sizeof s);
    const FpControl after = ReadFpControl();
    WriteFpControl(original);
    EXPECT_EQ(s[0], 2) << PathName(path);
    EXPECT_EQ(s[1], 0x3B2A192) << PathName(path);  // the tie 0x3B2A191.8 to even; 24 bits would give ...190
    EXPECT_EQ(after.x87, custom.x87) << PathName(path);
    EXPECT_EQ(after.mxcsr & ~0x3Fu, custom.mxcsr & ~0x3Fu) << PathName(path);
  }
}

}  // namespace
