// The volume gain: slider to linear factor, and the in-place kernels per format
// with an SSE2 implementation (packed 24-bit samples unpacked with SSSE3 where the
// processor has it) and an x87 one for processors without SSE2.
//
// The integer rows round the double product to the nearest integer, ties to even,
// and saturate out-of-range values by the product's sign. With SSE2 the rounding is
// cvtsd2si/cvtpd2dq, whose out-of-range answer 0x80000000 is mended for positive
// products. On x87 a product of magnitude 2147483647.0 or more saturates at once
// and the rest is rounded by adding 1.5 × 2^52, whose sum as a double holds the
// rounded value in its low 32 bits; so for products in (−2147483647.5,
// −2147483647.0] the x87 path gives −2147483648 where SSE2 gives −2147483647.
// The x87 kernels run with the unit's precision set to double: at the 64-bit
// precision MinGW starts threads with, both the product and that sum would be
// rounded twice and miss the nearest integer for fractions just off one half.
#include "dsp/gain.h"

#include <climits>
#include <cmath>
#include <cstring>

#include <emmintrin.h>

#include "dsp/cpu_path.h"
#include "dsp/fp_rounding.h"
#include "dsp/packed24_sse2.h"
#include "dsp/sample_format.h"
#include "dsp/wave_format.h"

namespace {

constexpr double kX87SaturationMagnitude = 2147483647.0;
constexpr double kRoundingBias = 6755399441055744.0;  // 1.5 × 2^52

enum class GainRow { None, Float32, Float64, UInt8, Int16, Int24, Int32 };

// The kernel for a format and, for integer samples, the valid bits inside the
// container: an integer row scales by gain × 2^−shift, clamps to the valid bits'
// range [lo, hi] and moves the result back up by `shift`, so the bits below the
// valid ones stay zero. Plain PCM has shift 0 and the container's range.
struct GainLayout {
  GainRow row = GainRow::None;
  uint32_t shift = 0;
  int32_t lo = 0;
  int32_t hi = 0;
};

// PCM, IEEE float, and extensible records with the PCM or IEEE float sub-format,
// by container; any other record gets no kernel.
GainLayout LayoutOf(const WaveFormat& format) {
  SampleFormat parsed;
  if (!ParseSampleFormat(format, parsed)) return {};
  GainLayout layout;
  switch (SampleKindOf(parsed)) {
    case SampleKind::Float32: layout.row = GainRow::Float32; return layout;
    case SampleKind::Float64: layout.row = GainRow::Float64; return layout;
    case SampleKind::UInt8: layout.row = GainRow::UInt8; break;
    case SampleKind::Int16: layout.row = GainRow::Int16; break;
    case SampleKind::Int24: layout.row = GainRow::Int24; break;
    case SampleKind::Int32: layout.row = GainRow::Int32; break;
    case SampleKind::Unsupported: return {};
  }
  const uint32_t container = parsed.containerBits;
  // A valid-bits field of 0 or wider than the container says nothing usable.
  const uint32_t valid = (parsed.validBits == 0 || parsed.validBits > container) ? container : parsed.validBits;
  layout.shift = container - valid;
  layout.lo = static_cast<int32_t>(-(int64_t{1} << (valid - 1)));
  layout.hi = static_cast<int32_t>((int64_t{1} << (valid - 1)) - 1);
  return layout;
}

int32_t Clamp(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : (v > hi ? hi : v); }

// A value clamped to the valid bits, moved up to the top of its container.
int32_t ToContainer(int32_t v, const GainLayout& layout) {
  return static_cast<int32_t>(int64_t{Clamp(v, layout.lo, layout.hi)} * (int64_t{1} << layout.shift));
}

int32_t LoadInt24(const uint8_t* p) {
  const uint32_t bits = uint32_t{p[0]} << 8 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 24;
  int32_t v;
  std::memcpy(&v, &bits, sizeof v);
  return v >> 8;
}

void StoreInt24(uint8_t* p, int32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
}

// ---- x87 ----------------------------------------------------------------------
// Written in x87 instructions so that the path is the same on x86-64, where tests
// run it, and on i686, where it runs on processors without SSE2. An asm that pushes
// a value of its own and pops it again clobbers "st": no value the compiler keeps
// on the stack lives in a clobbered register across the asm, which leaves a slot
// free for the push. (gcc would take any one stack register for that; clang wants
// clobbers counted from the top, st(0) first.) One that pops its input "t" says so
// with the same clobber.

double X87Product(int32_t s, double gain) {
  double p;
  __asm__("fildl %1\n\tfmull %2\n\tfstpl %0" : "=m"(p) : "m"(s), "m"(gain) : "st");
  return p;
}

double X87Product(double s, double gain) {
  double p;
  __asm__("fldl %1\n\tfmull %2\n\tfstpl %0" : "=m"(p) : "m"(s), "m"(gain) : "st");
  return p;
}

// A double product rounded once, subnormal results included. At double precision
// the unit still has the extended exponent range, so a product below 2^−1022 would
// be rounded to 53 bits and then again to the fewer bits of a subnormal when
// stored. Scaled by 2^−15360 first, such a product lies where the extended format
// is subnormal itself, which at double precision rounds at the bit the double
// would; scaling back by 2^15360 is exact, and so is the store.
constexpr long double kX87SubnormalBiasDown = 0x1p-15360L;
constexpr long double kX87SubnormalBiasUp = 0x1p15360L;

double X87ProductRoundedOnce(double s, double gain) {
  double p;
  __asm__("fldt %3\n\tfmull %1\n\tfmull %2\n\tfldt %4\n\tfmulp\n\tfstpl %0"
          : "=m"(p)
          : "m"(s), "m"(gain), "m"(kX87SubnormalBiasDown), "m"(kX87SubnormalBiasUp)
          : "st", "st(1)");
  return p;
}

float X87ToFloat(double p) {
  float f;
  __asm__("fstps %0" : "=m"(f) : "t"(p) : "st");
  return f;
}

int32_t X87Round(double p) {
  if (!(p > -kX87SaturationMagnitude && p < kX87SaturationMagnitude)) {
    return std::signbit(p) ? INT32_MIN : INT32_MAX;
  }
  double sum;
  __asm__("fldl %1\n\tfaddl %2\n\tfstpl %0" : "=m"(sum) : "m"(p), "m"(kRoundingBias) : "st");
  uint64_t bits;
  std::memcpy(&bits, &sum, sizeof bits);
  const uint32_t low = static_cast<uint32_t>(bits);
  int32_t r;
  std::memcpy(&r, &low, sizeof r);
  return r;
}

// `scaled` is the integer rows' factor, gain × 2^−shift.
void X87Gain(const GainLayout& layout, uint8_t* data, uint32_t samples, double gain, double scaled) {
  for (uint32_t i = 0; i < samples; ++i) {
    switch (layout.row) {
      case GainRow::UInt8: {
        const int32_t y = ToContainer(X87Round(X87Product(int32_t{data[i]} - 128, scaled)), layout);
        data[i] = static_cast<uint8_t>(y + 128);
        break;
      }
      case GainRow::Int16: {
        int16_t s;
        std::memcpy(&s, data + 2 * i, sizeof s);
        s = static_cast<int16_t>(ToContainer(X87Round(X87Product(int32_t{s}, scaled)), layout));
        std::memcpy(data + 2 * i, &s, sizeof s);
        break;
      }
      case GainRow::Int24: {
        uint8_t* p = data + 3 * i;
        StoreInt24(p, ToContainer(X87Round(X87Product(LoadInt24(p), scaled)), layout));
        break;
      }
      case GainRow::Int32: {
        int32_t s;
        std::memcpy(&s, data + 4 * i, sizeof s);
        s = ToContainer(X87Round(X87Product(s, scaled)), layout);
        std::memcpy(data + 4 * i, &s, sizeof s);
        break;
      }
      case GainRow::Float32: {
        float s;
        std::memcpy(&s, data + 4 * i, sizeof s);
        s = X87ToFloat(X87Product(double{s}, gain));
        std::memcpy(data + 4 * i, &s, sizeof s);
        break;
      }
      case GainRow::Float64: {
        double s;
        std::memcpy(&s, data + 8 * i, sizeof s);
        s = X87ProductRoundedOnce(s, gain);
        std::memcpy(data + 8 * i, &s, sizeof s);
        break;
      }
      case GainRow::None: return;
    }
  }
}

// ---- SSE2 ---------------------------------------------------------------------
#if defined(__i386__)
#pragma GCC push_options
#pragma GCC target("sse2")
#endif

// Scalar arithmetic here is written in intrinsics too: in the i686 build plain C
// double arithmetic would still run on the x87 unit and round twice.
__m128d Sse2Product(int32_t s, __m128d g) { return _mm_mul_sd(_mm_cvtsi32_sd(g, s), g); }

int32_t Sse2Round(__m128d p) {
  const int32_t r = _mm_cvtsd_si32(p);
  return (r == INT32_MIN && (_mm_movemask_pd(p) & 1) == 0) ? INT32_MAX : r;
}

// Four products rounded and saturated: cvtpd2dq answers 0x80000000 out of range,
// which becomes 0x7FFFFFFF where the product's sign bit (in its high word) is clear.
__m128i Sse2Round4(__m128d p0, __m128d p1) {
  const __m128i r = _mm_unpacklo_epi64(_mm_cvtpd_epi32(p0), _mm_cvtpd_epi32(p1));
  const __m128i highWords = _mm_castps_si128(
      _mm_shuffle_ps(_mm_castpd_ps(p0), _mm_castpd_ps(p1), _MM_SHUFFLE(3, 1, 3, 1)));
  const __m128i signClear = _mm_cmpgt_epi32(highWords, _mm_set1_epi32(-1));
  const __m128i outOfRange = _mm_cmpeq_epi32(r, _mm_set1_epi32(INT32_MIN));
  return _mm_xor_si128(r, _mm_and_si128(outOfRange, signClear));
}

// Four 32-bit samples times the gain, rounded and saturated to 32 bits. Where
// the caller knows every product is at most 2^30 in magnitude (kInRange) nothing
// needs mending, and adding 1.5 × 2^52 rounds each product (nearest-even, as
// MXCSR is set) into the low word of the sum, which is cheaper than cvtpd2dq.
template <bool kInRange = false>
__m128i Sse2Scale4(__m128i s, __m128d g) {
  const __m128d p0 = _mm_mul_pd(_mm_cvtepi32_pd(s), g);
  const __m128d p1 = _mm_mul_pd(_mm_cvtepi32_pd(_mm_unpackhi_epi64(s, s)), g);
  if (kInRange) {
    const __m128d bias = _mm_set1_pd(kRoundingBias);
    return _mm_castps_si128(_mm_shuffle_ps(_mm_castpd_ps(_mm_add_pd(p0, bias)), _mm_castpd_ps(_mm_add_pd(p1, bias)),
                                           _MM_SHUFFLE(2, 0, 2, 0)));
  }
  return Sse2Round4(p0, p1);
}

// Four 32-bit samples times the gain, clamped to [lo, hi] and rounded, where every
// product is at most 2^30 in magnitude. Rounding never moves a value past an
// integer bound, so clamping the product first gives what clamping the rounded
// value does, with one minpd and one maxpd per two samples instead of the compares
// and blends SSE2 needs for 32-bit lanes.
__m128i Sse2ScaleClamped4(__m128i s, __m128d g, __m128d lo, __m128d hi) {
  const __m128d bias = _mm_set1_pd(kRoundingBias);
  const __m128d p0 = _mm_min_pd(_mm_max_pd(_mm_mul_pd(_mm_cvtepi32_pd(s), g), lo), hi);
  const __m128d p1 = _mm_min_pd(_mm_max_pd(_mm_mul_pd(_mm_cvtepi32_pd(_mm_unpackhi_epi64(s, s)), g), lo), hi);
  return _mm_castps_si128(
      _mm_shuffle_ps(_mm_castpd_ps(_mm_add_pd(p0, bias)), _mm_castpd_ps(_mm_add_pd(p1, bias)), _MM_SHUFFLE(2, 0, 2, 0)));
}

// Eight 16-bit values clamped to [lo, hi] and moved up by the shift in `count`.
__m128i Sse2ToContainer8(__m128i v, __m128i lo, __m128i hi, __m128i count) {
  return _mm_sll_epi16(_mm_min_epi16(_mm_max_epi16(v, lo), hi), count);
}

// Four 32-bit values likewise (SSE2 has no 32-bit minimum or maximum).
__m128i Sse2ToContainer4(__m128i v, __m128i lo, __m128i hi, __m128i count) {
  const __m128i below = _mm_cmpgt_epi32(lo, v), above = _mm_cmpgt_epi32(v, hi);
  v = _mm_or_si128(_mm_andnot_si128(below, v), _mm_and_si128(below, lo));
  v = _mm_or_si128(_mm_andnot_si128(above, v), _mm_and_si128(above, hi));
  return _mm_sll_epi32(v, count);
}

// Whether every product of a sample of magnitude at most 2^bits and `scaled` is at
// most 2^30 in magnitude, so that it rounds to a 32-bit integer (false for NaN).
bool ProductsInRange(double scaled, int bits) { return std::fabs(scaled) <= std::ldexp(1.0, 30 - bits); }

// Eight offset-binary bytes scaled: each byte's signed value times the gain,
// clamped to [lo, hi] in 16-bit lanes and moved up by the shift, stored back as
// offset binary.
template <bool kInRange>
void Sse2GainUInt8(uint8_t* p, __m128d gs, __m128i lo16, __m128i hi16, __m128i count) {
  const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
  const __m128i x = _mm_sub_epi16(_mm_unpacklo_epi8(bytes, _mm_setzero_si128()), _mm_set1_epi16(128));
  const __m128i lo = Sse2Scale4<kInRange>(_mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16), gs);
  const __m128i hi = Sse2Scale4<kInRange>(_mm_srai_epi32(_mm_unpackhi_epi16(x, x), 16), gs);
  // The result fits in −128…127, so the saturating pack to bytes is exact;
  // adding 128 is flipping the top bit.
  const __m128i words = Sse2ToContainer8(_mm_packs_epi32(lo, hi), lo16, hi16, count);
  const __m128i y = _mm_packs_epi16(words, _mm_setzero_si128());
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_xor_si128(y, _mm_set1_epi8(-128)));
}

// Eight 24-bit samples, left-justified in a and b, scaled, clamped and moved up
// likewise in 32-bit lanes, and left-justified again.
template <bool kInRange>
__attribute__((always_inline)) inline void Int24Gain8(__m128i& a, __m128i& b, __m128d gs, __m128i lo32,
                                                      __m128i hi32, __m128i count) {
  if (kInRange) {
    const __m128d lo = _mm_cvtepi32_pd(lo32), hi = _mm_cvtepi32_pd(hi32);
    a = _mm_slli_epi32(_mm_sll_epi32(Sse2ScaleClamped4(_mm_srai_epi32(a, 8), gs, lo, hi), count), 8);
    b = _mm_slli_epi32(_mm_sll_epi32(Sse2ScaleClamped4(_mm_srai_epi32(b, 8), gs, lo, hi), count), 8);
    return;
  }
  a = _mm_slli_epi32(Sse2ToContainer4(Sse2Scale4<kInRange>(_mm_srai_epi32(a, 8), gs), lo32, hi32, count), 8);
  b = _mm_slli_epi32(Sse2ToContainer4(Sse2Scale4<kInRange>(_mm_srai_epi32(b, 8), gs), lo32, hi32, count), 8);
}

// Whole blocks of eight packed 24-bit samples, unpacked and packed with SSE2 or
// with SSSE3's byte shuffle; each returns the samples it scaled.
template <bool kInRange>
uint32_t Int24GainBlocks(uint8_t* data, uint32_t samples, __m128d gs, __m128i lo32, __m128i hi32, __m128i count) {
  uint32_t i = 0;
  for (; i + 8 <= samples; i += 8) {
    __m128i a, b;
    packed24::Load8(data + 3 * i, a, b);
    Int24Gain8<kInRange>(a, b, gs, lo32, hi32, count);
    packed24::Store8(data + 3 * i, a, b);
  }
  return i;
}

template <bool kInRange>
__attribute__((target("ssse3"))) uint32_t Int24GainBlocksSsse3(uint8_t* data, uint32_t samples, __m128d gs,
                                                                __m128i lo32, __m128i hi32, __m128i count) {
  uint32_t i = 0;
  for (; i + 8 <= samples; i += 8) {
    __m128i a, b;
    packed24::Load8Ssse3(data + 3 * i, a, b);
    Int24Gain8<kInRange>(a, b, gs, lo32, hi32, count);
    packed24::Store8Ssse3(data + 3 * i, a, b);
  }
  return i;
}

// Whole blocks of eight 16-bit samples; returns the samples it scaled.
template <bool kInRange>
uint32_t Int16GainBlocks(uint8_t* data, uint32_t samples, __m128d gs, __m128i lo16, __m128i hi16, __m128i count) {
  uint32_t i = 0;
  for (; i + 8 <= samples; i += 8) {
    __m128i* p = reinterpret_cast<__m128i*>(data + 2 * i);
    const __m128i v = _mm_loadu_si128(p);
    const __m128i lo = Sse2Scale4<kInRange>(_mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16), gs);
    const __m128i hi = Sse2Scale4<kInRange>(_mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16), gs);
    _mm_storeu_si128(p, Sse2ToContainer8(_mm_packs_epi32(lo, hi), lo16, hi16, count));
  }
  return i;
}

void Sse2Gain(const GainLayout& layout, uint8_t* data, uint32_t samples, double gain, double scaled,
              bool byteShuffle);

// 8-bit samples have 256 values: in a buffer of more than 256 samples each value's
// result is worked out once, by the same kernel, and every byte is looked up.
// Eight bytes a step through one 64-bit word keep the loads few.
constexpr uint32_t kUInt8TableSamples = 256;

void UInt8GainByTable(const GainLayout& layout, uint8_t* data, uint32_t samples, double gain, double scaled) {
  alignas(16) uint8_t table[256];
  for (int v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>(v);
  Sse2Gain(layout, table, 256, gain, scaled, false);
  uint32_t i = 0;
  for (; i + 8 <= samples; i += 8) {
    uint64_t word;
    std::memcpy(&word, data + i, sizeof word);
    uint64_t mapped = 0;
    for (int k = 0; k < 8; ++k) mapped |= uint64_t{table[(word >> (8 * k)) & 0xFF]} << (8 * k);
    std::memcpy(data + i, &mapped, sizeof mapped);
  }
  for (; i < samples; ++i) data[i] = table[data[i]];
}

// `scaled` is the integer rows' factor, gain × 2^−shift. With `byteShuffle` packed
// 24-bit samples take SSSE3's byte shuffle.
void Sse2Gain(const GainLayout& layout, uint8_t* data, uint32_t samples, double gain, double scaled,
              bool byteShuffle) {
  const __m128d g = _mm_set1_pd(gain), gs = _mm_set1_pd(scaled);
  const __m128i count = _mm_cvtsi32_si128(static_cast<int>(layout.shift));
  uint32_t i = 0;
  switch (layout.row) {
    case GainRow::UInt8: {
      if (samples > kUInt8TableSamples) {
        UInt8GainByTable(layout, data, samples, gain, scaled);
        break;
      }
      const __m128i lo16 = _mm_set1_epi16(static_cast<int16_t>(layout.lo));
      const __m128i hi16 = _mm_set1_epi16(static_cast<int16_t>(layout.hi));
      if (ProductsInRange(scaled, 7)) {
        for (; i + 8 <= samples; i += 8) Sse2GainUInt8<true>(data + i, gs, lo16, hi16, count);
      } else {
        for (; i + 8 <= samples; i += 8) Sse2GainUInt8<false>(data + i, gs, lo16, hi16, count);
      }
      for (; i < samples; ++i) {
        data[i] = static_cast<uint8_t>(ToContainer(Sse2Round(Sse2Product(int32_t{data[i]} - 128, gs)), layout) + 128);
      }
      break;
    }
    case GainRow::Int16: {
      const __m128i lo16 = _mm_set1_epi16(static_cast<int16_t>(layout.lo));
      const __m128i hi16 = _mm_set1_epi16(static_cast<int16_t>(layout.hi));
      // Every gain the volume slider gives (at most 4) keeps the products in range.
      i = ProductsInRange(scaled, 15) ? Int16GainBlocks<true>(data, samples, gs, lo16, hi16, count)
                                      : Int16GainBlocks<false>(data, samples, gs, lo16, hi16, count);
      for (; i < samples; ++i) {
        int16_t s;
        std::memcpy(&s, data + 2 * i, sizeof s);
        s = static_cast<int16_t>(ToContainer(Sse2Round(Sse2Product(s, gs)), layout));
        std::memcpy(data + 2 * i, &s, sizeof s);
      }
      break;
    }
    case GainRow::Int24: {
      const __m128i lo32 = _mm_set1_epi32(layout.lo), hi32 = _mm_set1_epi32(layout.hi);
      if (ProductsInRange(scaled, 23)) {
        i = byteShuffle ? Int24GainBlocksSsse3<true>(data, samples, gs, lo32, hi32, count)
                        : Int24GainBlocks<true>(data, samples, gs, lo32, hi32, count);
      } else {
        i = byteShuffle ? Int24GainBlocksSsse3<false>(data, samples, gs, lo32, hi32, count)
                        : Int24GainBlocks<false>(data, samples, gs, lo32, hi32, count);
      }
      for (; i < samples; ++i) {
        uint8_t* p = data + 3 * i;
        StoreInt24(p, ToContainer(Sse2Round(Sse2Product(LoadInt24(p), gs)), layout));
      }
      break;
    }
    case GainRow::Int32: {
      const __m128i lo32 = _mm_set1_epi32(layout.lo), hi32 = _mm_set1_epi32(layout.hi);
      for (; i + 4 <= samples; i += 4) {
        __m128i* p = reinterpret_cast<__m128i*>(data + 4 * i);
        _mm_storeu_si128(p, Sse2ToContainer4(Sse2Scale4(_mm_loadu_si128(p), gs), lo32, hi32, count));
      }
      for (; i < samples; ++i) {
        int32_t s;
        std::memcpy(&s, data + 4 * i, sizeof s);
        s = ToContainer(Sse2Round(Sse2Product(s, gs)), layout);
        std::memcpy(data + 4 * i, &s, sizeof s);
      }
      break;
    }
    case GainRow::Float32: {
      for (; i + 4 <= samples; i += 4) {
        float* p = reinterpret_cast<float*>(data + 4 * i);
        const __m128 v = _mm_loadu_ps(p);
        const __m128 lo = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(v), g));
        const __m128 hi = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(v, v)), g));
        _mm_storeu_ps(p, _mm_movelh_ps(lo, hi));
      }
      // Single samples move through integer registers: the buffer need not be
      // aligned for a float or a double.
      for (; i < samples; ++i) {
        uint8_t* p = data + 4 * i;
        int32_t bits;
        std::memcpy(&bits, p, sizeof bits);
        const __m128 s = _mm_castsi128_ps(_mm_cvtsi32_si128(bits));
        bits = _mm_cvtsi128_si32(_mm_castps_si128(_mm_cvtsd_ss(_mm_setzero_ps(), _mm_mul_sd(_mm_cvtss_sd(g, s), g))));
        std::memcpy(p, &bits, sizeof bits);
      }
      break;
    }
    case GainRow::Float64: {
      for (; i + 2 <= samples; i += 2) {
        double* p = reinterpret_cast<double*>(data + 8 * i);
        _mm_storeu_pd(p, _mm_mul_pd(_mm_loadu_pd(p), g));
      }
      for (; i < samples; ++i) {
        __m128i* p = reinterpret_cast<__m128i*>(data + 8 * i);
        _mm_storel_epi64(p, _mm_castpd_si128(_mm_mul_sd(_mm_castsi128_pd(_mm_loadl_epi64(p)), g)));
      }
      break;
    }
    case GainRow::None: break;
  }
}

#if defined(__i386__)
#pragma GCC pop_options
#endif

uint32_t BytesPerSample(GainRow row) {
  switch (row) {
    case GainRow::UInt8: return 1;
    case GainRow::Int16: return 2;
    case GainRow::Int24: return 3;
    case GainRow::Int32:
    case GainRow::Float32: return 4;
    case GainRow::Float64: return 8;
    case GainRow::None: return 0;
  }
  return 0;
}

}  // namespace

double GainFromVolume(int32_t volumeX10) {
  // Each step is held as a double: on an x87 build an intermediate kept in the
  // unit's wider registers would give a gain a bit different from other builds.
  volatile double perDecibel = std::log10(2.0) * (1.0 / 6);
  volatile double decibels = volumeX10 * 0.1;
  volatile double exponent = perDecibel * decibels;
  return std::pow(10.0, exponent);
}

namespace {

uint32_t SampleCount(const WaveFormat& format, GainRow row, uint32_t length) {
  const uint32_t bytes = BytesPerSample(row);
  if (bytes == 0 || format.BlockAlign() == 0) return 0;
  const uint64_t samples = uint64_t{length / format.BlockAlign()} * format.Channels();
  const uint32_t wholeSamples = length / bytes;
  return samples < wholeSamples ? static_cast<uint32_t>(samples) : wholeSamples;
}

}  // namespace

uint32_t GainSampleCount(const WaveFormat& format, uint32_t length) {
  return SampleCount(format, LayoutOf(format).row, length);
}

void ApplyGain(double gain, const WaveFormat& format, void* data, uint32_t length) {
  if (gain == 1.0) return;
  const GainLayout layout = LayoutOf(format);
  const uint32_t samples = SampleCount(format, layout.row, length);
  // Exact: scaling by a power of two changes only the exponent.
  const double scaled = std::ldexp(gain, -static_cast<int>(layout.shift));
  uint8_t* bytes = static_cast<uint8_t*>(data);
  const DspPath path = ActiveDspPath();
  if (path != DspPath::X87) {
    ScopedRoundToNearest nearest;
    if (samples) Sse2Gain(layout, bytes, samples, gain, scaled, path == DspPath::Ssse3);
  } else {
    ScopedRoundToNearest nearest(ScopedRoundToNearest::X87Precision::Double);
    if (samples) X87Gain(layout, bytes, samples, gain, scaled);
  }
}
