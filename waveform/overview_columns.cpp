// The waveform overview's column reduction and line-end arithmetic.
#include "waveform/overview_columns.h"

#include <cmath>
#include <cstring>

#if defined(__GNUC__) && (defined(__i386__) || defined(__x86_64__))
#include <smmintrin.h>

#include "dsp/packed24_sse2.h"
#define VEX_OVERVIEW_SSE2 1
#endif

namespace {

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;

// Integer samples scale by a power of two, so every decoded value, and the sum of
// a frame's decoded values, is exact in a double: the fast integer path below and
// the plain double path give the same maximum and minimum to the bit.
constexpr double kScale8 = 1.0 / 128.0;
constexpr double kScale16 = 1.0 / 32768.0;
constexpr double kScale24 = 1.0 / 8388608.0;
constexpr double kScale32 = 1.0 / 2147483648.0;

int32_t LoadInt(const uint8_t* p, OverviewSampleLayout layout) {
  switch (layout) {
    case OverviewSampleLayout::UInt8:
      return static_cast<int32_t>(p[0]) - 128;
    case OverviewSampleLayout::Int16:
      return static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
    case OverviewSampleLayout::Int24: {
      const uint32_t u = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                         (static_cast<uint32_t>(p[2]) << 16);
      // Sign-extend the top byte.
      return static_cast<int32_t>(u << 8) >> 8;
    }
    case OverviewSampleLayout::Int32:
      return static_cast<int32_t>(static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                                  (static_cast<uint32_t>(p[2]) << 16) |
                                  (static_cast<uint32_t>(p[3]) << 24));
    default:
      return 0;
  }
}

double IntScale(OverviewSampleLayout layout) {
  switch (layout) {
    case OverviewSampleLayout::UInt8: return kScale8;
    case OverviewSampleLayout::Int16: return kScale16;
    case OverviewSampleLayout::Int24: return kScale24;
    default: return kScale32;
  }
}

double DecodeSample(const uint8_t* p, OverviewSampleLayout layout) {
  switch (layout) {
    case OverviewSampleLayout::Float32: {
      float f;
      std::memcpy(&f, p, sizeof f);
      return f;
    }
    case OverviewSampleLayout::Float64: {
      double d;
      std::memcpy(&d, p, sizeof d);
      return d;
    }
    case OverviewSampleLayout::Silent:
      return 0;
    default:
      return LoadInt(p, layout) * IntScale(layout);
  }
}

// Frames of the column that are really in the data; the rest is silence.
uint32_t FramesToRead(const OverviewSource& source, ColumnFrames frames) {
  if (source.layout == OverviewSampleLayout::Silent || frames.first >= source.readableFrames) return 0;
  const uint32_t left = source.readableFrames - frames.first;
  return frames.count < left ? frames.count : left;
}

ColumnLevels Finish(double maximum, double minimum, double sumOfSquares, uint16_t channels,
                    uint32_t frameCount) {
  ColumnLevels levels;
  levels.maximum = maximum;
  levels.minimum = minimum;
  levels.sumOfSquares = sumOfSquares;
  levels.rms = OverviewRms(sumOfSquares, channels, frameCount);
  return levels;
}

// Integer layouts: frame sums in 64 bits (exact), squares in 64 bits for 8- and
// 16-bit samples (a file of at most 4 GiB holds at most 2^31 of them, each square
// at most 2^30) and in double for wider ones.
struct IntegerSums {
  int64_t maxSum = 0;
  int64_t minSum = 0;
  uint64_t squares = 0;
  double wideSquares = 0;
};

template <OverviewSampleLayout kLayout>
void AccumulateIntegers(const uint8_t* p, uint32_t frames, const OverviewSource& source,
                        IntegerSums& sums) {
  const uint32_t step = OverviewSampleBytes(kLayout);
  const bool wide = step > 2;
  for (uint32_t f = 0; f < frames; ++f, p += source.blockAlign) {
    int64_t frameSum = 0;
    const uint8_t* s = p;
    for (uint16_t c = 0; c < source.channels; ++c, s += step) {
      const int64_t v = LoadInt(s, kLayout);
      frameSum += v;
      if (wide) {
        sums.wideSquares += static_cast<double>(v) * static_cast<double>(v);
      } else {
        sums.squares += static_cast<uint64_t>(v * v);
      }
    }
    if (frameSum > sums.maxSum) sums.maxSum = frameSum;
    if (frameSum < sums.minSum) sums.minSum = frameSum;
  }
}

// Every sample decoded to double, in the order the rule states: the frame's
// channels summed, each square added, the frame value the sum × (1 / channels).
// `decode` turns the bytes of one sample into its value.
template <typename Decode>
ColumnLevels ReduceInDoubles(const OverviewSource& source, ColumnFrames frames, uint32_t toRead,
                             Decode decode) {
  const uint32_t step = OverviewSampleBytes(source.layout);
  const double inverseChannels = 1.0 / (source.channels ? source.channels : 1);
  double maximum = 0;
  double minimum = 0;
  double sumOfSquares = 0;
  const uint8_t* frame = toRead ? source.data + uint64_t{frames.first} * source.blockAlign : nullptr;
  for (uint32_t f = 0; f < toRead; ++f, frame += source.blockAlign) {
    double frameSum = 0;
    for (uint16_t c = 0; c < source.channels; ++c) {
      const double v = decode(frame + c * step);
      frameSum += v;
      sumOfSquares += v * v;
    }
    const double value = frameSum * inverseChannels;
    if (value > maximum) maximum = value;
    if (value < minimum) minimum = value;
  }
  return Finish(maximum, minimum, sumOfSquares, source.channels, frames.count);
}

// Floats take the plain arithmetic, with the decoding chosen once per column
// instead of once per sample.
template <OverviewSampleLayout kLayout>
ColumnLevels ReduceFloats(const OverviewSource& source, ColumnFrames frames, uint32_t toRead) {
  return ReduceInDoubles(source, frames, toRead, [](const uint8_t* p) { return DecodeSample(p, kLayout); });
}

#ifdef VEX_OVERVIEW_SSE2
// 16-bit stereo packed in 4-byte frames, four frames per step: pmaddwd against
// ones gives each frame's channel sum, against itself the frame's two squares
// added (at most 2^31, read as unsigned and widened to 64 bits before adding).
// Two builds of the loop: SSE2, which every x86-64 processor has, with the
// 32-bit maximum and minimum made of compares, and SSE4.1, which has them.

__attribute__((target("sse2"))) void MergeLanes(__m128i maxSum, __m128i minSum, __m128i squares,
                                                IntegerSums& sums) {
  alignas(16) int32_t maxLanes[4];
  alignas(16) int32_t minLanes[4];
  alignas(16) uint64_t squareLanes[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(maxLanes), maxSum);
  _mm_store_si128(reinterpret_cast<__m128i*>(minLanes), minSum);
  _mm_store_si128(reinterpret_cast<__m128i*>(squareLanes), squares);
  for (int lane = 0; lane < 4; ++lane) {
    if (maxLanes[lane] > sums.maxSum) sums.maxSum = maxLanes[lane];
    if (minLanes[lane] < sums.minSum) sums.minSum = minLanes[lane];
  }
  sums.squares += squareLanes[0] + squareLanes[1];
}

// Four frames: their channel sums, and their squares added into two 64-bit lanes each.
// Set to zero inside the SSE functions: on i686 a constructor would be built
// without SSE.
struct Stereo16Lanes {
  __m128i maxSum;
  __m128i minSum;
  __m128i squaresLow;
  __m128i squaresHigh;
};

__attribute__((target("sse2"), always_inline)) inline __m128i Stereo16Sums(const uint8_t* p,
                                                                           Stereo16Lanes& lanes) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i squares = _mm_madd_epi16(v, v);
  const __m128i zero = _mm_setzero_si128();
  lanes.squaresLow = _mm_add_epi64(lanes.squaresLow, _mm_unpacklo_epi32(squares, zero));
  lanes.squaresHigh = _mm_add_epi64(lanes.squaresHigh, _mm_unpackhi_epi32(squares, zero));
  return _mm_madd_epi16(v, _mm_set1_epi16(1));
}

__attribute__((target("sse2"))) uint32_t AccumulateStereo16Sse2(const uint8_t* p, uint32_t frames,
                                                                 IntegerSums& sums) {
  const __m128i zero = _mm_setzero_si128();
  Stereo16Lanes lanes{zero, zero, zero, zero};
  const uint32_t steps = frames / 4;
  for (uint32_t i = 0; i < steps; ++i, p += 16) {
    const __m128i sum = Stereo16Sums(p, lanes);
    const __m128i above = _mm_cmpgt_epi32(sum, lanes.maxSum);
    lanes.maxSum = _mm_or_si128(_mm_and_si128(above, sum), _mm_andnot_si128(above, lanes.maxSum));
    const __m128i below = _mm_cmpgt_epi32(lanes.minSum, sum);
    lanes.minSum = _mm_or_si128(_mm_and_si128(below, sum), _mm_andnot_si128(below, lanes.minSum));
  }
  MergeLanes(lanes.maxSum, lanes.minSum, _mm_add_epi64(lanes.squaresLow, lanes.squaresHigh), sums);
  return steps * 4;
}

__attribute__((target("sse4.1"))) uint32_t AccumulateStereo16Sse41(const uint8_t* p, uint32_t frames,
                                                                   IntegerSums& sums) {
  const __m128i zero = _mm_setzero_si128();
  Stereo16Lanes lanes{zero, zero, zero, zero};
  const uint32_t steps = frames / 4;
  for (uint32_t i = 0; i < steps; ++i, p += 16) {
    const __m128i sum = Stereo16Sums(p, lanes);
    lanes.maxSum = _mm_max_epi32(lanes.maxSum, sum);
    lanes.minSum = _mm_min_epi32(lanes.minSum, sum);
  }
  MergeLanes(lanes.maxSum, lanes.minSum, _mm_add_epi64(lanes.squaresLow, lanes.squaresHigh), sums);
  return steps * 4;
}

// 32-bit maximum and minimum made of compares (SSE2 has no pmaxsd).
__attribute__((target("sse2"), always_inline)) inline void KeepExtremes(__m128i sum, __m128i& maxSum,
                                                                        __m128i& minSum) {
  const __m128i above = _mm_cmpgt_epi32(sum, maxSum);
  maxSum = _mm_or_si128(_mm_and_si128(above, sum), _mm_andnot_si128(above, maxSum));
  const __m128i below = _mm_cmpgt_epi32(minSum, sum);
  minSum = _mm_or_si128(_mm_and_si128(below, sum), _mm_andnot_si128(below, minSum));
}

// Four samples' squares added into two 64-bit lanes: |v| < 2^24, so each square is
// below 2^47 and pmuludq of the magnitudes gives it exactly.
__attribute__((target("sse2"), always_inline)) inline __m128i AddSquares(__m128i v, __m128i squares) {
  const __m128i sign = _mm_srai_epi32(v, 31);
  const __m128i magnitude = _mm_sub_epi32(_mm_xor_si128(v, sign), sign);
  squares = _mm_add_epi64(squares, _mm_mul_epu32(magnitude, magnitude));
  const __m128i odd = _mm_srli_epi64(magnitude, 32);
  return _mm_add_epi64(squares, _mm_mul_epu32(odd, odd));
}

// Packed 24-bit mono or stereo: eight samples (24 bytes) a step, the frame sums
// kept in 32-bit lanes (exact: |sum| < 2^24), the squares in two 64-bit lanes that
// are moved into the double sum every 4096 steps, before they could reach 2^63.
// Two builds: SSE2, and SSE4.1 (with SSSE3's pshufb to unpack the samples, pmuldq
// for signed squares and the 32-bit maximum and minimum).
// Four stereo frame sums from eight samples (two frames in each of a and b).
__attribute__((target("sse2"), always_inline)) inline __m128i PairSums(__m128i a, __m128i b) {
  const __m128 af = _mm_castsi128_ps(a), bf = _mm_castsi128_ps(b);
  const __m128i left = _mm_castps_si128(_mm_shuffle_ps(af, bf, _MM_SHUFFLE(2, 0, 2, 0)));
  const __m128i right = _mm_castps_si128(_mm_shuffle_ps(af, bf, _MM_SHUFFLE(3, 1, 3, 1)));
  return _mm_add_epi32(left, right);
}

__attribute__((target("sse2"))) void FlushSquares(__m128i& squares, IntegerSums& sums) {
  alignas(16) uint64_t squareLanes[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(squareLanes), squares);
  sums.wideSquares += static_cast<double>(squareLanes[0]) + static_cast<double>(squareLanes[1]);
  squares = _mm_setzero_si128();
}

constexpr uint32_t kInt24StepsPerFlush = 4096;

__attribute__((target("sse2"))) uint32_t AccumulateInt24Sse2(const uint8_t* p, uint32_t frames, uint16_t channels,
                                                              IntegerSums& sums) {
  const __m128i zero = _mm_setzero_si128();
  __m128i maxSum = zero, minSum = zero, squares = zero;
  const uint32_t framesPerStep = 8 / channels;
  const uint32_t steps = frames / framesPerStep;
  for (uint32_t i = 0; i < steps; ++i, p += 24) {
    __m128i a, b;
    packed24::Load8(p, a, b);
    a = _mm_srai_epi32(a, 8);
    b = _mm_srai_epi32(b, 8);
    squares = AddSquares(b, AddSquares(a, squares));
    if (channels == 1) {
      KeepExtremes(a, maxSum, minSum);
      KeepExtremes(b, maxSum, minSum);
    } else {
      KeepExtremes(PairSums(a, b), maxSum, minSum);
    }
    if (i % kInt24StepsPerFlush == kInt24StepsPerFlush - 1) FlushSquares(squares, sums);
  }
  FlushSquares(squares, sums);
  MergeLanes(maxSum, minSum, zero, sums);
  return steps * framesPerStep;
}

__attribute__((target("sse4.1"), always_inline)) inline __m128i AddSignedSquares(__m128i v, __m128i squares) {
  squares = _mm_add_epi64(squares, _mm_mul_epi32(v, v));
  const __m128i odd = _mm_srli_epi64(v, 32);
  return _mm_add_epi64(squares, _mm_mul_epi32(odd, odd));
}

__attribute__((target("sse4.1"))) uint32_t AccumulateInt24Sse41(const uint8_t* p, uint32_t frames,
                                                                 uint16_t channels, IntegerSums& sums) {
  const __m128i zero = _mm_setzero_si128();
  // Bytes 3k, 3k + 1, 3k + 2 to the top of lane k; its low byte zero.
  const __m128i unpack = _mm_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
  __m128i maxSum = zero, minSum = zero, squares = zero;
  const uint32_t framesPerStep = 8 / channels;
  const uint32_t steps = frames / framesPerStep;
  for (uint32_t i = 0; i < steps; ++i, p += 24) {
    const __m128i a = _mm_srai_epi32(_mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), unpack), 8);
    const __m128i b = _mm_srai_epi32(
        _mm_shuffle_epi8(_mm_srli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), 4), unpack), 8);
    squares = AddSignedSquares(b, AddSignedSquares(a, squares));
    if (channels == 1) {
      maxSum = _mm_max_epi32(maxSum, _mm_max_epi32(a, b));
      minSum = _mm_min_epi32(minSum, _mm_min_epi32(a, b));
    } else {
      const __m128i sum = PairSums(a, b);
      maxSum = _mm_max_epi32(maxSum, sum);
      minSum = _mm_min_epi32(minSum, sum);
    }
    if (i % kInt24StepsPerFlush == kInt24StepsPerFlush - 1) FlushSquares(squares, sums);
  }
  FlushSquares(squares, sums);
  MergeLanes(maxSum, minSum, zero, sums);
  return steps * framesPerStep;
}

// Float32 mono or stereo, four frames a step, in double lanes as the plain
// arithmetic does them. In the i686 build the plain arithmetic runs on the x87
// unit, whose wider sums can round differently, so there a stereo frame sum is
// formed only where it is exact (both a + b − a = b and a + b − b = a hold): the
// first step with an inexact sum (or a NaN or infinity) stops the pass, and the
// caller reduces the column the plain way. The extremes are kept of the frame sums
// and halved at the end (halving is exact and keeps the order); a mono frame value
// is the sample itself. maxpd and minpd keep the running value unless the new one
// is greater (less), as the plain comparisons do, NaN included. Every sum has its
// own lanes, so no step waits for the one before.
struct FloatLanes {
  __m128d maximum[2];
  __m128d minimum[2];
  __m128d squares[4];
};

__attribute__((target("sse2"), always_inline)) inline void KeepFloatValues(__m128d first, __m128d second,
                                                                           FloatLanes& lanes) {
  lanes.maximum[0] = _mm_max_pd(first, lanes.maximum[0]);
  lanes.minimum[0] = _mm_min_pd(first, lanes.minimum[0]);
  lanes.maximum[1] = _mm_max_pd(second, lanes.maximum[1]);
  lanes.minimum[1] = _mm_min_pd(second, lanes.minimum[1]);
}

__attribute__((target("sse2"), always_inline)) inline void AddFloatSquares(__m128d a, __m128d b, __m128d c,
                                                                           __m128d d, FloatLanes& lanes) {
  lanes.squares[0] = _mm_add_pd(lanes.squares[0], _mm_mul_pd(a, a));
  lanes.squares[1] = _mm_add_pd(lanes.squares[1], _mm_mul_pd(b, b));
  lanes.squares[2] = _mm_add_pd(lanes.squares[2], _mm_mul_pd(c, c));
  lanes.squares[3] = _mm_add_pd(lanes.squares[3], _mm_mul_pd(d, d));
}

// Four frames: false when a stereo frame sum is inexact where that matters.
__attribute__((target("sse2"), always_inline)) inline bool ReduceFloat32Step(const float* f, uint16_t channels,
                                                                             FloatLanes& lanes) {
  if (channels == 1) {
    const __m128 v = _mm_loadu_ps(f);
    const __m128d low = _mm_cvtps_pd(v), high = _mm_cvtps_pd(_mm_movehl_ps(v, v));
    KeepFloatValues(low, high, lanes);
    lanes.squares[0] = _mm_add_pd(lanes.squares[0], _mm_mul_pd(low, low));
    lanes.squares[1] = _mm_add_pd(lanes.squares[1], _mm_mul_pd(high, high));
    return true;
  }
  const __m128 v0 = _mm_loadu_ps(f), v1 = _mm_loadu_ps(f + 4);
  const __m128 left = _mm_shuffle_ps(v0, v1, _MM_SHUFFLE(2, 0, 2, 0));
  const __m128 right = _mm_shuffle_ps(v0, v1, _MM_SHUFFLE(3, 1, 3, 1));
  const __m128d l01 = _mm_cvtps_pd(left), l23 = _mm_cvtps_pd(_mm_movehl_ps(left, left));
  const __m128d r01 = _mm_cvtps_pd(right), r23 = _mm_cvtps_pd(_mm_movehl_ps(right, right));
  const __m128d s01 = _mm_add_pd(l01, r01), s23 = _mm_add_pd(l23, r23);
#if !defined(__x86_64__)
  const __m128d inexact = _mm_or_pd(
      _mm_or_pd(_mm_cmpneq_pd(_mm_sub_pd(s01, l01), r01), _mm_cmpneq_pd(_mm_sub_pd(s01, r01), l01)),
      _mm_or_pd(_mm_cmpneq_pd(_mm_sub_pd(s23, l23), r23), _mm_cmpneq_pd(_mm_sub_pd(s23, r23), l23)));
  if (_mm_movemask_pd(inexact)) return false;
#endif
  KeepFloatValues(s01, s23, lanes);
  AddFloatSquares(l01, r01, l23, r23, lanes);
  return true;
}

// The last frames of a column go through a zeroed copy of four frames: frames of
// silence change neither the extremes (which start at 0) nor the squares.
__attribute__((target("sse2"))) bool ReduceFloat32Sse2(const uint8_t* p, uint32_t frames, uint16_t channels,
                                                       double& maximum, double& minimum, double& sumOfSquares) {
  const __m128d zero = _mm_setzero_pd();
  FloatLanes lanes{{zero, zero}, {zero, zero}, {zero, zero, zero, zero}};
  const uint32_t steps = frames / 4;
  const float* f = reinterpret_cast<const float*>(p);
  for (uint32_t i = 0; i < steps; ++i, f += 4 * channels) {
    if (!ReduceFloat32Step(f, channels, lanes)) return false;
  }
  if (const uint32_t rest = frames - steps * 4) {
    float last[8] = {};
    std::memcpy(last, f, size_t{rest} * channels * sizeof(float));
    if (!ReduceFloat32Step(last, channels, lanes)) return false;
  }
  const __m128d scale = _mm_set1_pd(channels == 2 ? 0.5 : 1.0);
  alignas(16) double maxLanes[2], minLanes[2], squareLanes[2];
  _mm_store_pd(maxLanes, _mm_mul_pd(_mm_max_pd(lanes.maximum[0], lanes.maximum[1]), scale));
  _mm_store_pd(minLanes, _mm_mul_pd(_mm_min_pd(lanes.minimum[0], lanes.minimum[1]), scale));
  _mm_store_pd(squareLanes, _mm_add_pd(_mm_add_pd(lanes.squares[0], lanes.squares[1]),
                                       _mm_add_pd(lanes.squares[2], lanes.squares[3])));
  for (int lane = 0; lane < 2; ++lane) {
    if (maxLanes[lane] > maximum) maximum = maxLanes[lane];
    if (minLanes[lane] < minimum) minimum = minLanes[lane];
  }
  sumOfSquares += squareLanes[0] + squareLanes[1];
  return true;
}

using Simd = OverviewSimd;

Simd DetectSimd() {
  __builtin_cpu_init();
  if (__builtin_cpu_supports("sse4.1")) return Simd::Sse41;
  if (__builtin_cpu_supports("sse2")) return Simd::Sse2;
  return Simd::None;
}
#else
using Simd = OverviewSimd;
Simd DetectSimd() { return Simd::None; }
#endif

// What the processor offers, asked once; UseOverviewSimd may narrow it.
Simd& SimdInUse() {
  static Simd simd = DetectSimd();
  return simd;
}

}  // namespace

double OverviewRms(double sumOfSquares, uint16_t channels, uint32_t frames) {
  const double samples = static_cast<double>(channels ? channels : 1) * (frames ? frames : 1);
  return std::sqrt(sumOfSquares / samples);
}

OverviewSimd OverviewSimdAvailable() { return DetectSimd(); }

void UseOverviewSimd(OverviewSimd level) {
  const OverviewSimd available = DetectSimd();
  SimdInUse() = level < available ? level : available;
}

OverviewSampleLayout ClassifyOverviewSamples(uint16_t formatTag, uint16_t bitsPerSample,
                                             uint16_t channels, uint16_t blockAlign) {
  OverviewSampleLayout layout = OverviewSampleLayout::Silent;
  if (formatTag == kTagFloat) {
    if (bitsPerSample == 32) layout = OverviewSampleLayout::Float32;
    if (bitsPerSample == 64) layout = OverviewSampleLayout::Float64;
  } else if (formatTag == kTagPcm) {
    if (bitsPerSample == 8) layout = OverviewSampleLayout::UInt8;
    if (bitsPerSample == 16) layout = OverviewSampleLayout::Int16;
    if (bitsPerSample == 24) layout = OverviewSampleLayout::Int24;
    if (bitsPerSample == 32) layout = OverviewSampleLayout::Int32;
  }
  const uint32_t frameBytes = static_cast<uint32_t>(channels) * OverviewSampleBytes(layout);
  if (channels == 0 || blockAlign < frameBytes) return OverviewSampleLayout::Silent;
  return layout;
}

uint32_t OverviewSampleBytes(OverviewSampleLayout layout) {
  switch (layout) {
    case OverviewSampleLayout::UInt8: return 1;
    case OverviewSampleLayout::Int16: return 2;
    case OverviewSampleLayout::Int24: return 3;
    case OverviewSampleLayout::Int32: return 4;
    case OverviewSampleLayout::Float32: return 4;
    case OverviewSampleLayout::Float64: return 8;
    default: return 0;
  }
}

uint32_t ReadableFrames(uint32_t frameCount, uint64_t availableBytes, uint16_t blockAlign) {
  if (blockAlign == 0) return 0;
  const uint64_t whole = availableBytes / blockAlign;
  return whole < frameCount ? static_cast<uint32_t>(whole) : frameCount;
}

ColumnFrames OverviewColumnFrames(uint32_t x, uint32_t width, uint32_t frameCount) {
  if (width == 0) return {0, 1};
  const uint32_t first = static_cast<uint32_t>(uint64_t{x} * frameCount / width);
  const uint32_t end = static_cast<uint32_t>((uint64_t{x} + 1) * frameCount / width);
  return {first, end > first ? end - first : 1};
}

ColumnLevels ReduceOverviewColumnReference(const OverviewSource& source, ColumnFrames frames) {
  const OverviewSampleLayout layout = source.layout;
  return ReduceInDoubles(source, frames, FramesToRead(source, frames),
                         [layout](const uint8_t* p) { return DecodeSample(p, layout); });
}

ColumnLevels ReduceOverviewColumn(const OverviewSource& source, ColumnFrames frames) {
  const uint32_t toRead = FramesToRead(source, frames);
  if (toRead == 0) return ReduceOverviewColumnReference(source, frames);
  if (source.layout == OverviewSampleLayout::Float32) {
#ifdef VEX_OVERVIEW_SSE2
    if ((source.channels == 1 || source.channels == 2) && source.blockAlign == 4 * source.channels &&
        SimdInUse() != Simd::None) {
      double maximum = 0, minimum = 0, sumOfSquares = 0;
      if (ReduceFloat32Sse2(source.data + uint64_t{frames.first} * source.blockAlign, toRead, source.channels,
                            maximum, minimum, sumOfSquares)) {
        return Finish(maximum, minimum, sumOfSquares, source.channels, frames.count);
      }
    }
#endif
    return ReduceFloats<OverviewSampleLayout::Float32>(source, frames, toRead);
  }
  if (source.layout == OverviewSampleLayout::Float64)
    return ReduceFloats<OverviewSampleLayout::Float64>(source, frames, toRead);

  const uint8_t* p = source.data + uint64_t{frames.first} * source.blockAlign;
  IntegerSums sums;
  uint32_t done = 0;
#ifdef VEX_OVERVIEW_SSE2
  if (source.layout == OverviewSampleLayout::Int16 && source.channels == 2 && source.blockAlign == 4) {
    if (SimdInUse() == Simd::Sse41) done = AccumulateStereo16Sse41(p, toRead, sums);
    if (SimdInUse() == Simd::Sse2) done = AccumulateStereo16Sse2(p, toRead, sums);
  }
  if (source.layout == OverviewSampleLayout::Int24 && (source.channels == 1 || source.channels == 2) &&
      source.blockAlign == 3 * source.channels) {
    if (SimdInUse() == Simd::Sse41) done = AccumulateInt24Sse41(p, toRead, source.channels, sums);
    if (SimdInUse() == Simd::Sse2) done = AccumulateInt24Sse2(p, toRead, source.channels, sums);
  }
#endif
  const uint8_t* rest = p + uint64_t{done} * source.blockAlign;
  switch (source.layout) {
    case OverviewSampleLayout::UInt8:
      AccumulateIntegers<OverviewSampleLayout::UInt8>(rest, toRead - done, source, sums);
      break;
    case OverviewSampleLayout::Int16:
      AccumulateIntegers<OverviewSampleLayout::Int16>(rest, toRead - done, source, sums);
      break;
    case OverviewSampleLayout::Int24:
      AccumulateIntegers<OverviewSampleLayout::Int24>(rest, toRead - done, source, sums);
      break;
    default:
      AccumulateIntegers<OverviewSampleLayout::Int32>(rest, toRead - done, source, sums);
      break;
  }

  const double scale = IntScale(source.layout);
  const double inverseChannels = 1.0 / source.channels;
  const double squares = sums.wideSquares + static_cast<double>(sums.squares);
  return Finish(static_cast<double>(sums.maxSum) * scale * inverseChannels,
                static_cast<double>(sums.minSum) * scale * inverseChannels,
                squares * scale * scale, source.channels, frames.count);
}

double OverviewBarLevel(double rms, bool linearScale) {
  if (linearScale) return rms;
  if (!(rms > kOverviewRmsFloor)) return 0;
  const double decibels = 20.0 * std::log10(rms);
  if (decibels < kOverviewBottomDecibels) return 0;
  if (decibels > kOverviewTopDecibels) return (decibels - kOverviewTopDecibels) / -kOverviewTopDecibels;
  return 1.0 / -kOverviewTopDecibels;
}

namespace {

// A row computed in double and made 0 when 0 or less (NaN included) and H when H
// or more, before any conversion to int, so no value of a float file can
// overflow the conversion.
int ClampRow(double row, int height) {
  if (!(row > 0)) return 0;
  if (row >= height) return height;
  return static_cast<int>(row);
}

void LineEnds(double high, double low, int height, int& top, int& bottom) {
  top = ClampRow(std::trunc(height * (1.0 - high) * 0.5), height);
  bottom = ClampRow(1.0 - std::trunc(height * (1.0 - low) * -0.5), height);
}

}  // namespace

ColumnLines OverviewColumnLines(const ColumnLevels& levels, int height, bool linearScale) {
  ColumnLines lines{};
  LineEnds(levels.maximum, levels.minimum, height, lines.peakTop, lines.peakBottom);
  const double level = OverviewBarLevel(levels.rms, linearScale);
  LineEnds(level, -level, height, lines.rmsTop, lines.rmsBottom);
  return lines;
}
