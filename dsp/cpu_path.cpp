// The processor check behind the choice between the kernels.
#include "dsp/cpu_path.h"

#include <atomic>

#include <cpuid.h>

namespace {

constexpr unsigned kCpuidFeatures = 1;
constexpr unsigned kEcxSsse3 = 1u << 9;

bool DetectSse2() {
#if defined(__x86_64__)
  return true;
#else
  constexpr unsigned kEdxSse2 = 1u << 26;
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(kCpuidFeatures, &eax, &ebx, &ecx, &edx)) return false;
  return (edx & kEdxSse2) != 0;
#endif
}

bool DetectSsse3() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(kCpuidFeatures, &eax, &ebx, &ecx, &edx)) return false;
  return DetectSse2() && (ecx & kEcxSsse3) != 0;
}

DspPath BestPath() {
  if (DetectSsse3()) return DspPath::Ssse3;
  return DetectSse2() ? DspPath::Sse2 : DspPath::X87;
}

// Relaxed is enough: the value is fixed at start-up and changed only by tests
// between runs, never while a kernel runs.
std::atomic<DspPath>& PathFlag() {
  static std::atomic<DspPath> path{BestPath()};
  return path;
}

}  // namespace

bool ProcessorHasSse2() {
  static const bool hasSse2 = DetectSse2();
  return hasSse2;
}

bool ProcessorHasSsse3() {
  static const bool hasSsse3 = DetectSsse3();
  return hasSsse3;
}

DspPath ActiveDspPath() { return PathFlag().load(std::memory_order_relaxed); }

bool SelectDspPathForTesting(DspPath path) {
  if (path == DspPath::Sse2 && !ProcessorHasSse2()) return false;
  if (path == DspPath::Ssse3 && !ProcessorHasSsse3()) return false;
  PathFlag().store(path, std::memory_order_relaxed);
  return true;
}
