// The overview's column arithmetic: frame ranges, the reduction of each layout,
// the decibel and linear bar levels, and the rows where each line ends.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "waveform/overview_columns.h"

namespace {

using Layout = OverviewSampleLayout;
constexpr int kHeight = 100;
constexpr double kPi = 3.14159265358979323846;

// Interleaved sample bytes of one layout, from values in −1 ... 1 (floats as given).
struct Samples {
  Layout layout;
  uint16_t channels;
  std::vector<uint8_t> bytes;

  Samples(Layout l, uint16_t k) : layout(l), channels(k) {}

  void Put(double v) {
    uint8_t b[8] = {};
    size_t n = OverviewSampleBytes(layout);
    const auto clampInt = [](double x, double scale) {
      const double s = std::round(x * scale);
      return static_cast<int64_t>(std::fmin(std::fmax(s, -scale), scale - 1));
    };
    switch (layout) {
      case Layout::UInt8: b[0] = static_cast<uint8_t>(clampInt(v, 128) + 128); break;
      case Layout::Int16:
      case Layout::Int24:
      case Layout::Int32: {
        const int64_t i = clampInt(v, std::ldexp(1.0, static_cast<int>(8 * n - 1)));
        for (size_t k = 0; k < n; ++k) b[k] = static_cast<uint8_t>(static_cast<uint64_t>(i) >> (8 * k));
        break;
      }
      case Layout::Float32: { const float f = static_cast<float>(v); std::memcpy(b, &f, 4); break; }
      case Layout::Float64: std::memcpy(b, &v, 8); break;
      default: n = 0;
    }
    bytes.insert(bytes.end(), b, b + n);
  }
  void Frame(std::initializer_list<double> values) { for (double v : values) Put(v); }

  OverviewSource Source() const {
    OverviewSource s;
    s.data = bytes.data();
    s.layout = layout;
    s.channels = channels;
    s.blockAlign = static_cast<uint16_t>(channels * OverviewSampleBytes(layout));
    s.frameCount = static_cast<uint32_t>(bytes.size() / s.blockAlign);
    s.readableFrames = s.frameCount;
    return s;
  }
};

ColumnLines LinesOfWhole(const Samples& samples, bool linear) {
  const OverviewSource source = samples.Source();
  const ColumnLevels levels = ReduceOverviewColumn(source, {0, source.frameCount});
  return OverviewColumnLines(levels, kHeight, linear);
}

// Sine of the given RMS, so its level in decibels is known.
Samples Sine(Layout layout, uint16_t channels, double rms, int frames = 4410) {
  Samples s(layout, channels);
  const double amplitude = rms * std::sqrt(2.0);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) s.Put(amplitude * std::sin(2 * kPi * 441 * i / 44100.0));
  return s;
}

TEST(OverviewColumnFrames, SpreadsFramesOverColumnsAndReadsAtLeastOne) {
  struct Case { uint32_t x, width, frames, first, count; };
  const Case cases[] = {
      {0, 100, 1000, 0, 10},
      {99, 100, 1000, 990, 10},
      {1, 3, 10, 3, 3},           // 10/3: 3, 3, 4
      {2, 3, 10, 6, 4},
      {0, 400, 100, 0, 1},        // fewer frames than columns: neighbours share a frame
      {1, 400, 100, 0, 1},
      {4, 400, 100, 1, 1},
      {399, 400, 100, 99, 1},
      // The products need 64 bits: a 4-GiB 8-bit mono file over a wide strip.
      {4095, 4096, 0xFFFFFFFFu, 4293918719u, 1048576u},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "/" << c.width << " of " << c.frames);
    const ColumnFrames got = OverviewColumnFrames(c.x, c.width, c.frames);
    EXPECT_EQ(got.first, c.first);
    EXPECT_EQ(got.count, c.count);
  }
}

TEST(ClassifyOverviewSamples, DecodesOnlyLayoutsItKnowsAndFramesThatHoldThem) {
  struct Case { uint16_t tag, bits, channels, align; Layout want; };
  const Case cases[] = {
      {1, 8, 1, 1, Layout::UInt8},     {1, 16, 2, 4, Layout::Int16},
      {1, 24, 2, 6, Layout::Int24},    {1, 32, 6, 24, Layout::Int32},
      {3, 32, 2, 8, Layout::Float32},  {3, 64, 1, 8, Layout::Float64},
      {1, 24, 2, 8, Layout::Int24},    // padded frames are stepped over by block align
      {3, 16, 2, 4, Layout::Silent},   // 16-bit float
      {1, 12, 1, 2, Layout::Silent},   // 12-bit PCM
      {0xFFFE, 16, 2, 4, Layout::Silent},
      {2, 4, 1, 256, Layout::Silent},  // ADPCM
      {1, 16, 0, 4, Layout::Silent},   // no channels
      {1, 16, 2, 2, Layout::Silent},   // a frame too short for its samples
      {1, 16, 2, 0, Layout::Silent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "tag " << c.tag << " bits " << c.bits << " k " << c.channels
                                    << " align " << c.align);
    EXPECT_EQ(ClassifyOverviewSamples(c.tag, c.bits, c.channels, c.align), c.want);
  }
}

TEST(ReadableFrames, NeverReachesBeyondTheBytesThatAreThere) {
  EXPECT_EQ(ReadableFrames(1000, 4000, 4), 1000u);
  EXPECT_EQ(ReadableFrames(1000, 1u << 20, 4), 1000u) << "more bytes than declared: declared count";
  EXPECT_EQ(ReadableFrames(1000, 3999, 4), 999u) << "a partial frame is not read";
  EXPECT_EQ(ReadableFrames(1000, 0, 4), 0u);
  EXPECT_EQ(ReadableFrames(1000, 4000, 0), 0u);
}

// The rows each rule gives at height 100: the middle row is 50.
TEST(OverviewColumnLines, DrawsEachSignalAtItsRows) {
  struct Case {
    const char* name;
    Samples samples;
    bool linear;
    ColumnLines want;
  };
  Samples silence(Layout::Int16, 2);
  for (int i = 0; i < 100; ++i) silence.Frame({0, 0});
  Samples square(Layout::Int16, 1);
  for (int i = 0; i < 100; ++i) square.Frame({i % 2 ? -1.0 : 1.0});
  Samples opposite(Layout::Int16, 2);
  for (int i = 0; i < 100; ++i) opposite.Frame({i % 2 ? -1.0 : 1.0, i % 2 ? 1.0 : -1.0});
  Samples byteSilence(Layout::UInt8, 1);
  for (int i = 0; i < 100; ++i) byteSilence.Put(0);  // bytes of 128
  Samples half(Layout::Float32, 1);
  for (int i = 0; i < 100; ++i) half.Put(i % 2 ? -0.5 : 0.5);

  const std::vector<Case> cases = {
      {"silence: one pixel at the middle row", silence, false, {50, 51, 50, 51}},
      {"8-bit 128 is silence", byteSilence, false, {50, 51, 50, 51}},
      // -1 is the full negative scale; +1 saturates at 32767/32768.
      {"full-scale square", square, false, {0, 100, 0, 100}},
      {"opposite channels: flat peak, full RMS", opposite, false, {50, 51, 0, 100}},
      // -40 dB lies in the -72 ... -30 band: 1/30 of the half-height each side.
      {"-40 dB", Sine(Layout::Int16, 2, 0.01), false, {49, 51, 48, 52}},
      {"-80 dB shows only the middle pixel", Sine(Layout::Int24, 1, 0.0001), false, {49, 51, 50, 51}},
      // Linear: RMS 0.5 covers half of each half-height: 25 ... 75.
      {"linear square at 0.5", half, true, {25, 76, 25, 76}},
      {"decibel square at 0.5 (-6 dB)", half, false, {25, 76, 10, 90}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ColumnLines got = LinesOfWhole(c.samples, c.linear);
    EXPECT_EQ(got.peakTop, c.want.peakTop);
    EXPECT_EQ(got.peakBottom, c.want.peakBottom);
    EXPECT_EQ(got.rmsTop, c.want.rmsTop);
    EXPECT_EQ(got.rmsBottom, c.want.rmsBottom);
  }
}

TEST(OverviewBarLevel, MapsDecibelsInThreeBands) {
  struct Case { double rms; bool linear; double want; };
  const Case cases[] = {
      {0, false, 0},
      {1.0 / 32768, false, 0},            // at the floor: nothing
      {0.0001, false, 0},                 // -80 dB
      {std::pow(10, -71.9 / 20), false, 1.0 / 30},
      {0.01, false, 1.0 / 30},            // -40 dB
      {std::pow(10, -30.0 / 20), false, 1.0 / 30},
      {std::pow(10, -15.0 / 20), false, 0.5},
      {1, false, 1},
      {0.25, true, 0.25},
      {0, true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.rms << (c.linear ? " linear" : " dB"));
    EXPECT_NEAR(OverviewBarLevel(c.rms, c.linear), c.want, 1e-9);
  }
}

TEST(OverviewColumnLines, ClampsRowsFromFloatsBeyondFullScaleOrNotANumber) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case { ColumnLevels levels; bool linear; ColumnLines want; };
  const Case cases[] = {
      {{4.0, -4.0, 0, 4.0}, false, {0, 100, 0, 100}},
      {{1e300, -1e300, 0, inf}, true, {0, 100, 0, 100}},
      {{nan, nan, 0, nan}, true, {0, 0, 0, 0}},
      {{0, 0, 0, nan}, false, {50, 51, 50, 51}},  // NaN RMS on the decibel scale is no level
  };
  for (const Case& c : cases) {
    const ColumnLines got = OverviewColumnLines(c.levels, kHeight, c.linear);
    EXPECT_EQ(got.peakTop, c.want.peakTop);
    EXPECT_EQ(got.peakBottom, c.want.peakBottom);
    EXPECT_EQ(got.rmsTop, c.want.rmsTop);
    EXPECT_EQ(got.rmsBottom, c.want.rmsBottom);
  }
  EXPECT_EQ(OverviewColumnLines({}, 0, false).peakBottom, 0) << "a strip of no height has no rows";
}

TEST(ReduceOverviewColumn, UnreadableLayoutsAndMissingFramesAreSilence) {
  Samples loud(Layout::Int16, 2);
  for (int i = 0; i < 64; ++i) loud.Frame({0.9, -0.7});
  OverviewSource source = loud.Source();

  source.layout = Layout::Silent;
  ColumnLevels got = ReduceOverviewColumn(source, {0, 64});
  EXPECT_EQ(got.maximum, 0);
  EXPECT_EQ(got.rms, 0);

  // A truncated file: the data chunk promises 128 frames, 32 are there.
  source = loud.Source();
  source.frameCount = 128;
  source.readableFrames = 32;
  got = ReduceOverviewColumn(source, {64, 64});
  EXPECT_EQ(got.maximum, 0);
  EXPECT_EQ(got.minimum, 0);
  EXPECT_EQ(got.rms, 0);
  // A column straddling the end counts the missing half as silence.
  const ColumnLevels whole = ReduceOverviewColumn(source, {0, 32});
  const ColumnLevels straddling = ReduceOverviewColumn(source, {0, 64});
  EXPECT_EQ(straddling.maximum, whole.maximum);
  EXPECT_NEAR(straddling.rms, whole.rms / std::sqrt(2.0), 1e-12);
}

TEST(ReduceOverviewColumn, PeakIsTheChannelMeanAndRmsTakesEverySample) {
  Samples s(Layout::Int16, 3);
  s.Frame({0.5, 0.25, 0});
  s.Frame({-0.75, 0, 0});
  const ColumnLevels got = ReduceOverviewColumn(s.Source(), {0, 2});
  EXPECT_DOUBLE_EQ(got.maximum, 0.75 / 3);
  EXPECT_DOUBLE_EQ(got.minimum, -0.25);
  EXPECT_DOUBLE_EQ(got.rms, std::sqrt((0.25 + 0.0625 + 0.5625) / 6));
}

// The fast reduction against the plain one, on random data of every layout, a
// range of channel counts, column lengths around the four-frame step and the
// extremes of each integer range.
TEST(ReduceOverviewColumn, FastPathMatchesThePlainOne) {
  const OverviewSimd best = OverviewSimdAvailable();
  for (OverviewSimd simd : {OverviewSimd::None, OverviewSimd::Sse2, OverviewSimd::Sse41}) {
    if (simd > best) continue;
    UseOverviewSimd(simd);
    std::mt19937 random(7);
    const Layout layouts[] = {Layout::UInt8, Layout::Int16, Layout::Int24,
                              Layout::Int32, Layout::Float32, Layout::Float64};
    for (Layout layout : layouts) {
      for (uint16_t channels : {1, 2, 3, 6}) {
        Samples s(layout, channels);
        std::uniform_real_distribution<double> value(-1.0, 1.0);
        // From frame 1500 on, some samples are so small that a float frame sum is
        // inexact in double: those columns must come out as the plain ones too.
        for (int i = 0; i < 3000 * channels; ++i) {
          const int pick = i % 97;
          const bool tiny = pick == 7 && i >= 1500 * channels;
          s.Put(pick == 5 ? -1.0 : pick == 6 ? 1.0 : tiny ? 0x1.000003p-40 : value(random));
        }
        const OverviewSource source = s.Source();
        for (uint32_t first : {0u, 1u, 3u}) {
          for (uint32_t count : {1u, 3u, 4u, 5u, 8u, 17u, 1000u, 2990u}) {
            SCOPED_TRACE(testing::Message() << "simd " << int(simd) << " layout " << int(layout)
                                            << " k " << channels << " first " << first
                                            << " count " << count);
            const ColumnLevels fast = ReduceOverviewColumn(source, {first, count});
            const ColumnLevels plain = ReduceOverviewColumnReference(source, {first, count});
            EXPECT_EQ(fast.maximum, plain.maximum);
            EXPECT_EQ(fast.minimum, plain.minimum);
            EXPECT_NEAR(fast.rms, plain.rms, 1e-12);
          }
        }
      }
    }
  }
  UseOverviewSimd(best);
}

TEST(ReduceOverviewColumn, FullScaleNegativeStereoDoesNotWrapTheSquares) {
  // Two samples of -32768 square to exactly 2^31, the one sum that needs the
  // 32-bit squares to be read as unsigned.
  Samples s(Layout::Int16, 2);
  for (int i = 0; i < 64; ++i) s.Frame({-1.0, -1.0});
  const OverviewSimd best = OverviewSimdAvailable();
  for (OverviewSimd simd : {OverviewSimd::None, OverviewSimd::Sse2, OverviewSimd::Sse41}) {
    if (simd > best) continue;
    UseOverviewSimd(simd);
    const ColumnLevels got = ReduceOverviewColumn(s.Source(), {0, 64});
    EXPECT_EQ(got.minimum, -1.0);
    EXPECT_EQ(got.rms, 1.0);
  }
  UseOverviewSimd(best);
}

}  // namespace
