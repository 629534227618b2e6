// The exclusive-mode format search order and the buffer-duration alignment.
#include "devices/wasapi_format_ladder.h"

namespace {

// Every buffer the device is asked for is a multiple of this many bytes.
constexpr uint32_t kBufferByteGranule = 128;

// The next multiple of 8 above `bits` (bits rounded down to a multiple of 8, plus 8).
uint32_t NextByteStep(uint32_t bits) { return (bits & ~7u) + 8; }

// Greatest common divisor by the binary method; both arguments at least 1.
uint32_t BinaryGcd(uint32_t a, uint32_t b) {
  int shift = 0;
  while (((a | b) & 1) == 0) {
    a >>= 1;
    b >>= 1;
    ++shift;
  }
  while ((a & 1) == 0) a >>= 1;
  while (b != 0) {
    while ((b & 1) == 0) b >>= 1;
    if (a > b) {
      const uint32_t t = a;
      a = b;
      b = t;
    }
    b -= a;
  }
  return a << shift;
}

}  // namespace

uint32_t BuildFormatLadder(uint32_t fileValidBits, uint32_t maxValidBits,
                           FormatCandidate (&out)[kMaxFormatCandidates]) {
  const uint32_t maxBits = maxValidBits < kNarrowestContainerBits ? kNarrowestContainerBits
                                                                  : maxValidBits;
  const uint32_t first = fileValidBits > maxBits ? maxBits : fileValidBits;
  uint32_t count = 0;
  // Valid bits above 32 fit no container, so the outer walk ends there too; a huge
  // maxValidBits from the registry would otherwise keep it stepping for ages.
  for (uint32_t valid = first; valid <= maxBits && valid <= kWidestContainerBits;
       valid = NextByteStep(valid)) {
    for (uint32_t container = valid; container <= kWidestContainerBits;
         container = NextByteStep(container)) {
      // Only a first container below 8 bits (from a file of fewer valid bits) can
      // have no whole byte; such a rung would ask for a block align of 0.
      if (container < kNarrowestContainerBits) continue;
      if (count == kMaxFormatCandidates) return count;
      out[count++] = {static_cast<uint16_t>(valid), static_cast<uint16_t>(container)};
    }
  }
  return count;
}

uint16_t FrameBlockAlign(uint32_t containerBits, uint32_t channels) {
  return static_cast<uint16_t>((containerBits / 8) * channels);
}

uint32_t ChannelMaskFor(uint32_t channels) {
  if (channels >= 32) return 0;
  return (1u << channels) - 1;
}

int64_t AlignedPeriod(int64_t period, uint32_t blockAlign, uint32_t sampleRate) {
  const uint32_t frames = static_cast<uint32_t>(
      (static_cast<int64_t>(sampleRate) * period + kReferenceTimePerSecond / 2) /
      kReferenceTimePerSecond);
  const uint64_t granule = static_cast<uint64_t>(blockAlign) * kBufferByteGranule /
                           BinaryGcd(blockAlign, kBufferByteGranule);
  uint64_t bytes = static_cast<uint64_t>(frames) * blockAlign;
  bytes = (bytes + granule - 1) / granule * granule;
  const uint64_t alignedFrames = bytes / blockAlign;
  const uint64_t duration =
      (alignedFrames * kReferenceTimePerSecond + sampleRate / 2) / sampleRate;
  return static_cast<int64_t>(static_cast<uint32_t>(duration));
}

int64_t WantedPeriod(int64_t minimumPeriod, uint32_t bufferLengthMs) {
  const int64_t wanted = static_cast<int64_t>(bufferLengthMs) * kReferenceTimePerMillisecond;
  return wanted > minimumPeriod ? wanted : minimumPeriod;
}

uint32_t LatencyFrames(uint32_t sampleRate, int64_t latency) {
  return static_cast<uint32_t>((static_cast<int64_t>(sampleRate) * latency +
                                kReferenceTimePerSecond / 2) /
                               kReferenceTimePerSecond);
}
