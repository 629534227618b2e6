// ConvertSamples and its 25 kernels: a generic build for every x86 processor (in
// the i686 build; on x86-64 SSE2 is always there), an SSE2 build and an SSSE3 one,
// chosen at run time. Every build gives the same bits.
#include "dsp/convert.h"

#include <climits>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <type_traits>

#include <emmintrin.h>

#include "dsp/cpu_path.h"
#include "dsp/packed24_sse2.h"

namespace {

constexpr float kTwoTo31 = 2147483648.0f;
constexpr float kTwoToMinus31 = 1.0f / 2147483648.0f;

#if !defined(__x86_64__)
namespace generic {
#include "dsp/convert_kernels.inc"
}  // namespace generic
#endif

// The i686 build targets processors without SSE2: these kernels are compiled for
// SSE2 per function there and run only where the processor has it. The SSSE3
// ones are compiled for SSSE3 on both builds.
#if !defined(__x86_64__)
#pragma GCC push_options
#pragma GCC target("sse2")
#endif
#define VEX_SSE2_KERNELS 1
namespace sse2 {
#include "dsp/convert_kernels.inc"
}  // namespace sse2
#if !defined(__x86_64__)
#pragma GCC pop_options
#endif

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("ssse3"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("ssse3")
#endif
#define VEX_SSSE3_KERNELS 1
namespace ssse3 {
#include "dsp/convert_kernels.inc"
}  // namespace ssse3
#undef VEX_SSSE3_KERNELS
#undef VEX_SSE2_KERNELS
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

using Kernel = void (*)(uint8_t*, const uint8_t*, uint32_t frames, uint32_t sourceChannels,
                        uint32_t destinationChannels);

Kernel SelectKernel(SampleKind from, SampleKind to) {
  switch (ActiveDspPath()) {
    case DspPath::Ssse3: return ssse3::SelectKernel(from, to);
#if defined(__x86_64__)
    case DspPath::Sse2:
    case DspPath::X87: return sse2::SelectKernel(from, to);
#else
    case DspPath::Sse2: return sse2::SelectKernel(from, to);
    case DspPath::X87: return generic::SelectKernel(from, to);
#endif
  }
  return nullptr;
}

}  // namespace

int32_t SaturateToInt32(float x) {
#if defined(__x86_64__)
  return sse2::SaturateToInt32Here(x);
#else
  return ActiveDspPath() == DspPath::X87 ? generic::SaturateToInt32Here(x) : sse2::SaturateToInt32Here(x);
#endif
}

void ConvertSamples(void* destination, uint32_t frames, const SampleFormat& sourceFormat,
                    const void* source, const SampleFormat& destinationFormat) {
  const SampleKind from = SampleKindOf(sourceFormat);
  const SampleKind to = SampleKindOf(destinationFormat);
  if (frames == 0 || sourceFormat.channels == 0 || destinationFormat.channels == 0) return;
  const Kernel kernel = SelectKernel(from, to);
  if (!kernel) return;  // Unsupported or Float64 on either side
  kernel(static_cast<uint8_t*>(destination), static_cast<const uint8_t*>(source), frames,
         sourceFormat.channels, destinationFormat.channels);
}
