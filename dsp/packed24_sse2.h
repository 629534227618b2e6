// Packed 24-bit little-endian samples to and from 32-bit lanes with SSE2, or with
// SSSE3's byte shuffle, eight samples (24 bytes) at a time. In a lane a sample sits left-justified: its three
// bytes are the lane's top three and the low byte is zero (sample × 256), which is
// how the conversion kernels hold every sample; an arithmetic shift right by 8
// gives the sample itself. Every function is built for SSE2 on its own, so the
// i686 build, which targets processors without it, calls them only from code built
// for SSE2.
#pragma once

#include <cstdint>

#include <emmintrin.h>
#include <tmmintrin.h>

#define VEX_PACKED24_INLINE __attribute__((target("sse2"), always_inline)) inline
#define VEX_PACKED24_SSSE3_INLINE __attribute__((target("ssse3"), always_inline)) inline

namespace packed24 {

// Bytes 0-11 of v as four left-justified samples.
VEX_PACKED24_INLINE __m128i Unpack4(__m128i v) {
  // Samples 0-1 (bytes 0-5) in the low half, samples 2-3 (bytes 6-11) in the high.
  const __m128i x = _mm_unpacklo_epi64(v, _mm_srli_si128(v, 6));
  const __m128i first = _mm_and_si128(_mm_slli_epi64(x, 8), _mm_set1_epi64x(0x00000000FFFFFF00));
  const __m128i second = _mm_and_si128(_mm_slli_epi64(x, 16), _mm_set1_epi64x(static_cast<long long>(0xFFFFFF0000000000ull)));
  return _mm_or_si128(first, second);
}

// The top three bytes of each lane of v, in lane order, to bytes 0-11; bytes
// 12-15 are zero.
VEX_PACKED24_INLINE __m128i Pack4(__m128i v) {
  const __m128i first = _mm_and_si128(_mm_srli_epi64(v, 8), _mm_set1_epi64x(0x0000000000FFFFFF));
  const __m128i second = _mm_and_si128(_mm_srli_epi64(v, 16), _mm_set1_epi64x(0x0000FFFFFF000000));
  const __m128i pairs = _mm_or_si128(first, second);  // 6 bytes in each half
  return _mm_or_si128(_mm_move_epi64(pairs), _mm_slli_si128(_mm_srli_si128(pairs, 8), 6));
}

// Eight samples from p[0..23], reading nothing beyond.
VEX_PACKED24_INLINE void Load8(const uint8_t* p, __m128i& a, __m128i& b) {
  a = Unpack4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
  b = Unpack4(_mm_srli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), 4));
}

// Eight left-justified samples to p[0..23], writing nothing beyond.
VEX_PACKED24_INLINE void Store8(uint8_t* p, __m128i a, __m128i b) {
  const __m128i low = Pack4(a), high = Pack4(b);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_or_si128(low, _mm_slli_si128(high, 12)));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 16), _mm_srli_si128(high, 4));
}

// Load8 and Store8 with one byte shuffle per register.
VEX_PACKED24_SSSE3_INLINE void Load8Ssse3(const uint8_t* p, __m128i& a, __m128i& b) {
  const __m128i first = _mm_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11);
  const __m128i second = _mm_setr_epi8(-1, 4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15);
  a = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), first);
  b = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), second);
}

VEX_PACKED24_SSSE3_INLINE void Store8Ssse3(uint8_t* p, __m128i a, __m128i b) {
  const __m128i packA = _mm_setr_epi8(1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15, -1, -1, -1, -1);
  const __m128i packBFirst = _mm_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 1, 2, 3, 5);
  const __m128i packBRest = _mm_setr_epi8(6, 7, 9, 10, 11, 13, 14, 15, -1, -1, -1, -1, -1, -1, -1, -1);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                   _mm_or_si128(_mm_shuffle_epi8(a, packA), _mm_shuffle_epi8(b, packBFirst)));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(p + 16), _mm_shuffle_epi8(b, packBRest));
}

}  // namespace packed24

#undef VEX_PACKED24_INLINE
#undef VEX_PACKED24_SSSE3_INLINE
