// The render thread's arithmetic.
#include "engine/render_timing.h"

#include "dsp/sample_format.h"
#include "dsp/wave_format.h"

bool IsWasapiClientFormat(const WaveFormat& format) {
  const uint32_t channels = format.Channels();
  const uint32_t rate = format.SampleRate();
  const uint32_t bits = format.BitsPerSample();
  if (channels < 1 || channels > 256 || rate < 1000 || rate > 192000) return false;
  switch (PlainTwinTag(format)) {
    case kFormatTagPcm: return bits == 8 || bits == 16 || bits == 24 || bits == 32;
    case kFormatTagFloat: return bits == 32;
    default: return false;
  }
}

uint64_t PeriodTicks(int64_t counterFrequency, uint32_t bufferFrames, uint32_t rate) {
  if (!rate) return 0;
  return (static_cast<uint64_t>(counterFrequency) * bufferFrames + rate / 2) / rate;
}

uint32_t WaitTimeoutMs(uint32_t bufferFrames, uint32_t rate) {
  if (!rate) return 0;
  return static_cast<uint32_t>((2900ull * bufferFrames + rate / 2) / rate);
}

bool StreamRanDry(int64_t ticksSinceStart, uint32_t rate, int64_t counterFrequency,
                  uint32_t latencyFrames, uint64_t framesRendered) {
  if (counterFrequency <= 0 || ticksSinceStart < 0) return false;
  // Ticks × rate overflows 63 bits after about 4.4 hours with a counter at
  // processor speed (3 GHz) and 192 kHz: whole seconds and the rest apart, each
  // product then stays below frequency × rate.
  const uint64_t ticks = static_cast<uint64_t>(ticksSinceStart);
  const uint64_t frequency = static_cast<uint64_t>(counterFrequency);
  const uint64_t elapsed = ticks / frequency * rate + ticks % frequency * rate / frequency;
  return elapsed >= latencyFrames && elapsed - latencyFrames >= framesRendered;
}

uint64_t InterpolatedPosition(bool anchorValid, uint64_t anchorFrames, int64_t anchorTime,
                              bool running, int64_t now, uint32_t clientRate,
                              int64_t counterFrequency, uint64_t framesConsumed,
                              uint64_t reportedPosition) {
  if (!anchorValid) return reportedPosition;
  uint64_t p = anchorFrames;
  if (running && counterFrequency > 0) {
    const int64_t ticks = now > anchorTime ? now - anchorTime : 0;
    p += static_cast<uint64_t>(ticks) * clientRate / static_cast<uint64_t>(counterFrequency);
  }
  if (p > framesConsumed) p = framesConsumed;
  return p > reportedPosition ? p : reportedPosition;
}

uint32_t PositionInUnits(uint64_t frames, uint32_t& type, uint32_t clientRate,
                         uint32_t clientBlockAlign) {
  switch (type) {
    case kTimeMs: return clientRate ? static_cast<uint32_t>(frames * 1000 / clientRate) : 0;
    case kTimeBytes: return static_cast<uint32_t>(frames * clientBlockAlign);
    default:
      type = kTimeSamples;
      return static_cast<uint32_t>(frames);
  }
}
