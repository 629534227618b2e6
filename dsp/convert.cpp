// ConvertSamples and its 25 kernels: a generic build for every x86 processor and,
// in the i686 build, an SSE2 build chosen at run time (on x86-64 the one build is
// SSE2 already). Both builds give the same bits.
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
constexpr float kTwoToMinus15 = 1.0f / 32768.0f;

#if defined(__x86_64__)
#define VEX_SSE2_KERNELS 1
namespace sse2 {
#include "dsp/convert_kernels.inc"
}  // namespace sse2
#undef VEX_SSE2_KERNELS
#else
namespace generic {
#include "dsp/convert_kernels.inc"
}  // namespace generic
// The i686 build targets processors without SSE2; these kernels are compiled for
// SSE2 per function and run only where the processor has it.
#pragma GCC push_options
#pragma GCC target("sse2")
#define VEX_SSE2_KERNELS 1
namespace sse2 {
#include "dsp/convert_kernels.inc"
}  // namespace sse2
#undef VEX_SSE2_KERNELS
#pragma GCC pop_options
#endif

#if !defined(__x86_64__)
bool UseSse2Kernels() { return ActiveDspPath() == DspPath::Sse2; }
#endif

}  // namespace

int32_t SaturateToInt32(float x) {
#if defined(__x86_64__)
  return sse2::SaturateToInt32Here(x);
#else
  return UseSse2Kernels() ? sse2::SaturateToInt32Here(x) : generic::SaturateToInt32Here(x);
#endif
}

void ConvertSamples(void* destination, uint32_t frames, const SampleFormat& sourceFormat,
                    const void* source, const SampleFormat& destinationFormat) {
  const SampleKind from = SampleKindOf(sourceFormat);
  const SampleKind to = SampleKindOf(destinationFormat);
  if (frames == 0 || sourceFormat.channels == 0 || destinationFormat.channels == 0) return;
#if defined(__x86_64__)
  const auto kernel = sse2::SelectKernel(from, to);
#else
  const auto kernel = UseSse2Kernels() ? sse2::SelectKernel(from, to) : generic::SelectKernel(from, to);
#endif
  if (!kernel) return;  // Unsupported or Float64 on either side
  kernel(static_cast<uint8_t*>(destination), static_cast<const uint8_t*>(source), frames,
         sourceFormat.channels, destinationFormat.channels);
}
