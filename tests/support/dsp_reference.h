// Plain references written from the sample rules: the conversion of one sample
// between kinds, and the volume's rounding. Shared by the kernel tests and the
// kernels' differential fuzz target; speed is no concern here.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "dsp/sample_format.h"

namespace dspreference {

inline uint32_t Width(SampleKind kind) { return kind == SampleKind::Float32 ? 32 : SampleKindBytes(kind) * 8; }

inline int32_t ReferenceSaturate(float x) {
  const double y = static_cast<double>(x) * 2147483648.0;  // exact, never overflows in double
  if (y >= -2147483648.0 && y < 2147483648.0) return static_cast<int32_t>(std::nearbyint(y));
  return std::signbit(x) ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
}

// The signed value s of a source sample (its width is Width(kind)).
inline int64_t ReferenceRead(SampleKind kind, const uint8_t* p) {
  switch (kind) {
    case SampleKind::UInt8: return int64_t{p[0]} - 128;
    case SampleKind::Int16: return static_cast<int16_t>(p[0] | p[1] << 8);
    case SampleKind::Int24: {
      int64_t v = p[0] | p[1] << 8 | p[2] << 16;
      return v >= 0x800000 ? v - 0x1000000 : v;
    }
    case SampleKind::Int32: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case SampleKind::Float32: {
      float v;
      std::memcpy(&v, p, 4);
      return ReferenceSaturate(v);
    }
    default: return 0;
  }
}

inline void ReferenceSample(SampleKind to, uint8_t* d, SampleKind from, const uint8_t* s) {
  if (to == SampleKind::Float32 && from == SampleKind::Float32) {
    std::memcpy(d, s, 4);
    return;
  }
  const int64_t value = ReferenceRead(from, s);
  const int w = static_cast<int>(Width(from));
  if (to == SampleKind::Float32) {
    const float f = static_cast<float>(static_cast<double>(value) / std::ldexp(1.0, w - 1));
    std::memcpy(d, &f, 4);
    return;
  }
  const int W = static_cast<int>(Width(to));
  int64_t r = value;
  if (W > w) {
    r = value * (int64_t{1} << (W - w));
  } else if (W < w) {
    const int k = w - W;
    const int64_t largest = (int64_t{1} << (w - 1)) - 1;
    r = std::min(value + (int64_t{1} << (k - 1)), largest);
    r = (r - (((r % (int64_t{1} << k)) + (int64_t{1} << k)) % (int64_t{1} << k))) / (int64_t{1} << k);
  }
  if (to == SampleKind::UInt8) r = (r + 128) & 0xFF;
  const uint32_t bits = static_cast<uint32_t>(r);
  for (uint32_t i = 0; i < SampleKindBytes(to); ++i) d[i] = static_cast<uint8_t>(bits >> (8 * i));
}

// The double product rounded to the nearest integer, ties to even, saturated to 32
// bits, then clamped to the row's range.
inline int64_t ReferenceScale(int64_t s, double gain, int64_t lo, int64_t hi) {
  const double r = std::nearbyint(static_cast<double>(s) * gain);
  int64_t v;
  if (std::isnan(r)) {
    v = std::signbit(r) ? INT32_MIN : INT32_MAX;
  } else if (r >= 2147483648.0) {
    v = INT32_MAX;
  } else if (r < -2147483648.0) {
    v = INT32_MIN;
  } else {
    v = static_cast<int64_t>(r);
  }
  return std::min(std::max(v, lo), hi);
}

}  // namespace dspreference
