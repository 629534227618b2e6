// ConvertSamples against a plain reference written from the conversion rules, over
// every input where the space allows and over edge sets elsewhere, for every pair
// of kinds and the common channel mappings, on every kernel build.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "dsp/convert.h"
#include "dsp/cpu_path.h"
#include "support/dsp_reference.h"

using namespace dspreference;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr SampleKind kKinds[] = {SampleKind::UInt8, SampleKind::Int16, SampleKind::Int24,
                                 SampleKind::Int32, SampleKind::Float32};

const char* KindName(SampleKind kind) {
  switch (kind) {
    case SampleKind::UInt8: return "UInt8";
    case SampleKind::Int16: return "Int16";
    case SampleKind::Int24: return "Int24";
    case SampleKind::Int32: return "Int32";
    case SampleKind::Float32: return "Float32";
    case SampleKind::Float64: return "Float64";
    case SampleKind::Unsupported: return "Unsupported";
  }
  return "?";
}

SampleFormat Layout(SampleKind kind, uint32_t channels) {
  SampleFormat f;
  f.sampleRate = 48000;
  f.channels = channels;
  f.isFloat = kind == SampleKind::Float32 || kind == SampleKind::Float64;
  switch (kind) {
    case SampleKind::UInt8: f.containerBits = 8; break;
    case SampleKind::Int16: f.containerBits = 16; break;
    case SampleKind::Int24: f.containerBits = 24; break;
    case SampleKind::Int32:
    case SampleKind::Float32: f.containerBits = 32; break;
    case SampleKind::Float64: f.containerBits = 64; break;
    case SampleKind::Unsupported: f.containerBits = 20; break;
  }
  f.validBits = f.containerBits;
  f.blockAlign = channels * (f.containerBits / 8u);
  f.silenceByte = kind == SampleKind::UInt8 ? 0x80 : 0;
  return f;
}

// ---- Inputs -------------------------------------------------------------------

void Put(Bytes& b, SampleKind kind, uint32_t bits) {
  for (uint32_t i = 0; i < SampleKindBytes(kind); ++i) b.push_back(static_cast<uint8_t>(bits >> (8 * i)));
}

uint32_t FloatBits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return bits;
}

// Int32 values around every narrowing threshold and tie, the extremes and a spread.
Bytes Int32EdgeSet() {
  std::vector<int64_t> values = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX - 1, INT32_MAX,
                                 0x7F800000, 0x7FFF8000, 0x7FFFFF80, 0x7FFFFF7F, 16777217, -16777217,
                                 (1 << 24) + 3, 0x40000001, -0x40000001};
  for (int W : {8, 16, 24}) {
    const int64_t step = int64_t{1} << (32 - W);
    for (int64_t k : {-(int64_t{1} << (W - 1)), int64_t{-3}, int64_t{-2}, int64_t{-1}, int64_t{0},
                      int64_t{1}, int64_t{2}, (int64_t{1} << (W - 1)) - 2, (int64_t{1} << (W - 1)) - 1}) {
      const int64_t tie = k * step + step / 2;
      for (int64_t d = -2; d <= 2; ++d) values.push_back(tie + d);
      values.push_back(k * step);
    }
  }
  std::mt19937 random(7);
  for (int i = 0; i < 20000; ++i) values.push_back(static_cast<int32_t>(random()));
  Bytes b;
  for (int64_t v : values) {
    if (v >= INT32_MIN && v <= INT32_MAX) Put(b, SampleKind::Int32, static_cast<uint32_t>(v));
  }
  return b;
}

// Float32 values: extremes, ±1.0 and their neighbours, infinities, NaN of both
// signs, denormals, values beyond full scale, every rounding tie of each integer
// width with its neighbours, and a spread.
Bytes Float32EdgeSet() {
  const float inf = std::numeric_limits<float>::infinity();
  std::vector<float> values = {0.0f, -0.0f, 1.0f, -1.0f, std::nextafter(1.0f, 0.0f), std::nextafter(-1.0f, 0.0f),
                               std::nextafter(1.0f, 2.0f), std::nextafter(-1.0f, -2.0f), 0.5f, -0.5f, 1.5f, -1.5f,
                               2.0f, -2.0f, 1e30f, -1e30f, std::numeric_limits<float>::max(),
                               -std::numeric_limits<float>::max(), inf, -inf,
                               std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::denorm_min(),
                               std::numeric_limits<float>::min(), -std::numeric_limits<float>::min(),
                               std::ldexp(1.0f, -32), std::ldexp(1.5f, -31), std::ldexp(-1.5f, -31),
                               std::ldexp(1.0f, -16), std::ldexp(-1.0f, -16)};
  for (int W : {8, 16, 24, 32}) {
    const double step = std::ldexp(1.0, 1 - W);
    for (double k : {-std::ldexp(1.0, W - 1), -3.0, -2.0, -1.0, 0.0, 1.0, 2.0, std::ldexp(1.0, W - 1) - 2,
                     std::ldexp(1.0, W - 1) - 1}) {
      const float tie = static_cast<float>((k + 0.5) * step);
      values.push_back(tie);
      values.push_back(std::nextafter(tie, -inf));
      values.push_back(std::nextafter(tie, inf));
      values.push_back(static_cast<float>(k * step));
    }
  }
  std::mt19937 random(11);
  std::uniform_real_distribution<float> spread(-1.25f, 1.25f);
  for (int i = 0; i < 20000; ++i) values.push_back(spread(random));
  Bytes b;
  for (float v : values) Put(b, SampleKind::Float32, FloatBits(v));
  for (uint32_t nan : {0x7FC00000u, 0xFFC00000u, 0x7F800001u, 0xFFBFFFFFu, 0x7FC12345u}) {
    Put(b, SampleKind::Float32, nan);
  }
  return b;
}

// Every value of the small kinds; the 2^24 Int24 values are made on demand.
Bytes AllValues(SampleKind kind, uint32_t first, uint32_t count, uint32_t stride = 1) {
  Bytes b;
  b.reserve(size_t{count} * SampleKindBytes(kind));
  for (uint32_t i = 0; i < count; ++i) Put(b, kind, first + i * stride);
  return b;
}

Bytes InputsFor(SampleKind kind) {
  switch (kind) {
    case SampleKind::UInt8: return AllValues(kind, 0, 256);
    case SampleKind::Int16: return AllValues(kind, 0, 65536);
    // Int24 in full is swept on its own below; here a spread with every extreme.
    case SampleKind::Int24: {
      Bytes b = AllValues(kind, 0, 65536, 256);
      for (uint32_t v : {0x7FFFFFu, 0x800000u, 0x7FFF80u, 0x7FFF7Fu, 0x80u, 0x7Fu, 0xFFFF80u, 0xFFFF7Fu}) Put(b, kind, v);
      return b;
    }
    case SampleKind::Int32: return Int32EdgeSet();
    case SampleKind::Float32: return Float32EdgeSet();
    default: return {};
  }
}

struct Mapping {
  uint32_t from;
  uint32_t to;
};
constexpr Mapping kMappings[] = {{2, 2}, {1, 2}, {2, 1}, {2, 6}, {6, 2}, {3, 5}};

// Converts the samples of `source` (padded to whole frames by repeating the first
// sample) and compares every destination byte with the reference. Returns the
// number of mismatching samples, reporting the first few.
int CompareWithReference(SampleKind from, SampleKind to, Mapping m, Bytes source) {
  const uint32_t sb = SampleKindBytes(from), db = SampleKindBytes(to);
  while ((source.size() / sb) % m.from) source.insert(source.end(), source.begin(), source.begin() + sb);
  const uint32_t frames = static_cast<uint32_t>(source.size() / sb / m.from);
  Bytes actual(size_t{frames} * m.to * db, 0xA5), expected(actual.size());
  ConvertSamples(actual.data(), frames, Layout(from, m.from), source.data(), Layout(to, m.to));
  int mismatches = 0;
  for (uint32_t f = 0; f < frames; ++f) {
    for (uint32_t j = 0; j < m.to; ++j) {
      const uint8_t* s = source.data() + (size_t{f} * m.from + j % m.from) * sb;
      uint8_t* e = expected.data() + (size_t{f} * m.to + j) * db;
      ReferenceSample(to, e, from, s);
      if (std::memcmp(e, actual.data() + (e - expected.data()), db) != 0 && ++mismatches <= 3) {
        uint32_t in = 0, want = 0, got = 0;
        std::memcpy(&in, s, sb);
        std::memcpy(&want, e, db);
        std::memcpy(&got, actual.data() + (e - expected.data()), db);
        ADD_FAILURE() << KindName(from) << " " << m.from << "ch -> " << KindName(to) << " " << m.to
                      << "ch: input 0x" << std::hex << in << " gave 0x" << got << ", expected 0x" << want;
      }
    }
  }
  return mismatches;
}

// Every kernel build the processor can run; the x86-64 build has no generic one.
std::vector<DspPath> Paths() {
#if defined(__x86_64__)
  std::vector<DspPath> paths = {DspPath::Sse2};
#else
  std::vector<DspPath> paths = {DspPath::X87};
  if (ProcessorHasSse2()) paths.push_back(DspPath::Sse2);
#endif
  if (ProcessorHasSsse3()) paths.push_back(DspPath::Ssse3);
  return paths;
}

const char* PathName(DspPath path) {
  switch (path) {
    case DspPath::Sse2: return " SSE2";
    case DspPath::Ssse3: return " SSSE3";
    case DspPath::X87: return " generic";
  }
  return "?";
}

class PathGuard {
 public:
  PathGuard() : saved_(ActiveDspPath()) {}
  ~PathGuard() { SelectDspPathForTesting(saved_); }

 private:
  DspPath saved_;
};

TEST(ConvertSamples, EveryPairAndMappingMatchesTheReference) {
  PathGuard guard;
  for (DspPath path : Paths()) {
    ASSERT_TRUE(SelectDspPathForTesting(path));
    for (SampleKind from : kKinds) {
      const Bytes inputs = InputsFor(from);
      for (SampleKind to : kKinds) {
        for (Mapping m : kMappings) {
          EXPECT_EQ(CompareWithReference(from, to, m, inputs), 0)
              << KindName(from) << " -> " << KindName(to) << " " << m.from << "->" << m.to
              << PathName(path);
        }
      }
    }
  }
}

// Every Int24 value into every destination kind. Under the emulated 32-bit Wine
// of the build machine the whole sweep would take minutes, so the i686 build
// sweeps every 7th value there (7 is prime to every step and tie spacing); the
// native and x86-64 builds sweep them all.
TEST(ConvertSamples, EveryInt24ValueMatchesTheReference) {
#if defined(_WIN32) && !defined(_WIN64)
  constexpr uint32_t kStride = 7;
#else
  constexpr uint32_t kStride = 1;
#endif
  constexpr uint32_t kChunk = 1u << 20;
  for (SampleKind to : kKinds) {
    int mismatches = 0;
    for (uint32_t first = 0; first < (1u << 24) && mismatches == 0; first += kChunk * kStride) {
      mismatches += CompareWithReference(SampleKind::Int24, to, {1, 1},
                                         AllValues(SampleKind::Int24, first, kChunk, kStride));
    }
    EXPECT_EQ(mismatches, 0) << KindName(to);
  }
}

// The documented values, each by name.
TEST(ConvertSamples, DocumentedExamples) {
  struct Case {
    const char* name;
    SampleKind from;
    uint32_t input;
    SampleKind to;
    uint32_t expected;
  };
  const auto F = FloatBits;
  const uint32_t kPositiveNaN = 0x7FC00000u;
  const Case cases[] = {
      {"float 1.0 to Int16", SampleKind::Float32, F(1.0f), SampleKind::Int16, 32767},
      {"float -1.0 to Int16", SampleKind::Float32, F(-1.0f), SampleKind::Int16, 0x8000},
      {"float 0.5 to Int16", SampleKind::Float32, F(0.5f), SampleKind::Int16, 16384},
      {"float half a 16-bit step to Int16", SampleKind::Float32, F(std::ldexp(1.0f, -16)), SampleKind::Int16, 1},
      {"float minus half a step to Int16", SampleKind::Float32, F(-std::ldexp(1.0f, -16)), SampleKind::Int16, 0},
      {"float 1.5 to Int16", SampleKind::Float32, F(1.5f), SampleKind::Int16, 32767},
      {"positive NaN to Int16", SampleKind::Float32, kPositiveNaN, SampleKind::Int16, 32767},
      {"float 1.0 to Int32", SampleKind::Float32, F(1.0f), SampleKind::Int32, 0x7FFFFFFF},
      {"float -1.0 to Int32", SampleKind::Float32, F(-1.0f), SampleKind::Int32, 0x80000000},
      {"float 0.5 to Int32", SampleKind::Float32, F(0.5f), SampleKind::Int32, 0x40000000},
      {"float 2^-32 to Int32", SampleKind::Float32, F(std::ldexp(1.0f, -32)), SampleKind::Int32, 0},
      {"float 1.5 x 2^-31 ties to even", SampleKind::Float32, F(std::ldexp(1.5f, -31)), SampleKind::Int32, 2},
      {"+inf to Int32", SampleKind::Float32, F(std::numeric_limits<float>::infinity()), SampleKind::Int32, 0x7FFFFFFF},
      {"-inf to Int32", SampleKind::Float32, F(-std::numeric_limits<float>::infinity()), SampleKind::Int32, 0x80000000},
      {"Int32 max to float 1.0", SampleKind::Int32, 0x7FFFFFFF, SampleKind::Float32, F(1.0f)},
      {"Int32 min to float -1.0", SampleKind::Int32, 0x80000000, SampleKind::Float32, F(-1.0f)},
      {"Int16 -32768 to UInt8", SampleKind::Int16, 0x8000, SampleKind::UInt8, 0},
      {"Int16 32767 to UInt8", SampleKind::Int16, 32767, SampleKind::UInt8, 255},
      {"Int16 0 to UInt8", SampleKind::Int16, 0, SampleKind::UInt8, 128},
      {"Int16 127 to UInt8", SampleKind::Int16, 127, SampleKind::UInt8, 128},
      {"Int16 128 to UInt8", SampleKind::Int16, 128, SampleKind::UInt8, 129},
      {"Int16 -129 to UInt8", SampleKind::Int16, 0xFF7F, SampleKind::UInt8, 127},
      {"UInt8 0 to Int16", SampleKind::UInt8, 0, SampleKind::Int16, 0x8000},
      {"UInt8 128 to Int16", SampleKind::UInt8, 128, SampleKind::Int16, 0},
      {"UInt8 255 to Int16", SampleKind::UInt8, 255, SampleKind::Int16, 32512},
      {"Int24 8388480 to Int16", SampleKind::Int24, 8388480, SampleKind::Int16, 32767},
      {"Int24 8388607 to Int16", SampleKind::Int24, 8388607, SampleKind::Int16, 32767},
      {"Int24 -8388608 to Int16", SampleKind::Int24, 0x800000, SampleKind::Int16, 0x8000},
      {"Int24 127 to Int16", SampleKind::Int24, 127, SampleKind::Int16, 0},
      {"Int24 128 to Int16", SampleKind::Int24, 128, SampleKind::Int16, 1},
      {"Int32 0x7FFFFF7F to Int24", SampleKind::Int32, 0x7FFFFF7F, SampleKind::Int24, 0x7FFFFF},
      {"Int32 0x7FFFFFFF to Int24", SampleKind::Int32, 0x7FFFFFFF, SampleKind::Int24, 0x7FFFFF},
      {"Int16 to Int32 lands in the top half", SampleKind::Int16, 0x1234, SampleKind::Int32, 0x12340000},
  };
  PathGuard guard;
  for (DspPath path : Paths()) {
    ASSERT_TRUE(SelectDspPathForTesting(path));
    for (const Case& c : cases) {
      Bytes source, destination(4, 0);
      Put(source, c.from, c.input);
      SampleFormat to = Layout(c.to, 1);
      if (c.to == SampleKind::Int32) to.validBits = 24;  // plays no part
      ConvertSamples(destination.data(), 1, Layout(c.from, 1), source.data(), to);
      uint32_t got = 0;
      std::memcpy(&got, destination.data(), SampleKindBytes(c.to));
      EXPECT_EQ(got, c.expected) << c.name;
    }
  }
}

TEST(ConvertSamples, ChannelMappingExamples) {
  // Mono Int16 to stereo Int24: both channels carry the value shifted left by 8.
  const int16_t mono[3] = {0x1234, -2, 0x7FFF};
  uint8_t stereo24[18] = {};
  ConvertSamples(stereo24, 3, Layout(SampleKind::Int16, 1), mono, Layout(SampleKind::Int24, 2));
  const uint8_t expected24[18] = {0x00, 0x34, 0x12, 0x00, 0x34, 0x12, 0x00, 0xFE, 0xFF,
                                  0x00, 0xFE, 0xFF, 0x00, 0xFF, 0x7F, 0x00, 0xFF, 0x7F};
  EXPECT_EQ(0, std::memcmp(stereo24, expected24, sizeof stereo24));

  // Six-channel Float32 to stereo Int16: source channels 0 and 1, in place.
  const float six[12] = {0.5f, -0.5f, 1, 1, 1, 1, 0.25f, -1.0f, -1, -1, -1, -1};
  int16_t two[4] = {};
  ConvertSamples(two, 2, Layout(SampleKind::Float32, 6), six, Layout(SampleKind::Int16, 2));
  EXPECT_EQ(two[0], 16384);
  EXPECT_EQ(two[1], -16384);
  EXPECT_EQ(two[2], 8192);
  EXPECT_EQ(two[3], -32768);

  // Stereo to six channels repeats 0, 1, 0, 1, 0, 1; the copy path too.
  const int32_t pair[2] = {7, -9};
  int32_t out6[6] = {};
  ConvertSamples(out6, 1, Layout(SampleKind::Int32, 2), pair, Layout(SampleKind::Int32, 6));
  const int32_t expected6[6] = {7, -9, 7, -9, 7, -9};
  EXPECT_EQ(0, std::memcmp(out6, expected6, sizeof out6));
}

// The render thread converts a device buffer that spans two client buffers in two
// runs; the bytes must be those of one run.
TEST(ConvertSamples, SplitRunsGiveTheBytesOfOneRun) {
  PathGuard guard;
  for (DspPath path : Paths()) {
    ASSERT_TRUE(SelectDspPathForTesting(path));
    for (SampleKind from : kKinds) {
      const Bytes inputs = InputsFor(from);
      for (SampleKind to : kKinds) {
        for (Mapping m : {Mapping{2, 2}, Mapping{1, 2}, Mapping{6, 2}}) {
          const SampleFormat sf = Layout(from, m.from), df = Layout(to, m.to);
          const uint32_t frames = static_cast<uint32_t>(std::min<size_t>(inputs.size() / sf.blockAlign, 203));
          Bytes whole(size_t{frames} * df.blockAlign), split(whole.size());
          ConvertSamples(whole.data(), frames, sf, inputs.data(), df);
          for (uint32_t cut : {0u, 1u, 3u, 8u, 17u, frames - 1, frames}) {
            std::fill(split.begin(), split.end(), 0xEE);
            ConvertSamples(split.data(), cut, sf, inputs.data(), df);
            ConvertSamples(split.data() + size_t{cut} * df.blockAlign, frames - cut, sf,
                           inputs.data() + size_t{cut} * sf.blockAlign, df);
            EXPECT_EQ(whole, split) << KindName(from) << " -> " << KindName(to) << " cut " << cut;
          }
        }
      }
    }
  }
}

TEST(ConvertSamples, WritesNothingForUnsupportedLayoutsOrNoFrames) {
  SampleFormat float16 = Layout(SampleKind::Float32, 2);
  float16.containerBits = 16;
  float16.blockAlign = 4;
  SampleFormat pcm20 = Layout(SampleKind::Unsupported, 2);
  SampleFormat pcm64 = Layout(SampleKind::Int32, 2);
  pcm64.containerBits = 64;
  pcm64.blockAlign = 16;
  const SampleFormat int16 = Layout(SampleKind::Int16, 2);
  const struct {
    const char* name;
    SampleFormat from, to;
    uint32_t frames;
  } cases[] = {
      {"Float64 source", Layout(SampleKind::Float64, 2), int16, 4},
      {"Float64 destination", int16, Layout(SampleKind::Float64, 2), 4},
      {"16-bit float source", float16, int16, 4},
      {"20-bit PCM destination", int16, pcm20, 4},
      {"64-bit PCM source", pcm64, int16, 4},
      {"zero frames", int16, Layout(SampleKind::Int32, 2), 0},
  };
  const Bytes source(256, 0x3C);
  for (const auto& c : cases) {
    Bytes destination(256, 0xAB);
    ConvertSamples(destination.data(), c.frames, c.from, source.data(), c.to);
    EXPECT_EQ(destination, Bytes(256, 0xAB)) << c.name;
  }
}

TEST(SaturateToInt32, MatchesTheReferenceOnTheEdgeSet) {
  PathGuard guard;
  const Bytes inputs = Float32EdgeSet();
  for (DspPath path : Paths()) {
    ASSERT_TRUE(SelectDspPathForTesting(path));
    for (size_t i = 0; i < inputs.size(); i += 4) {
      float x;
      std::memcpy(&x, inputs.data() + i, 4);
      EXPECT_EQ(SaturateToInt32(x), ReferenceSaturate(x)) << std::hexfloat << x;
    }
  }
}

}  // namespace
