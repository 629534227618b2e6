// The render thread's arithmetic: device-buffer times in counter ticks and
// milliseconds, the underrun test, the interpolated play position and its units.
#pragma once

#include <cstdint>

class WaveFormat;

// Whether a client format can be written to a WASAPI output: PCM of 8, 16, 24 or
// 32 bits or IEEE float of 32 bits (no other tag, extensible included), 1 to 256
// channels, 1000 to 192000 frames per second.
bool IsWasapiClientFormat(const WaveFormat& format);

// One device buffer in performance-counter ticks, rounded to nearest.
uint64_t PeriodTicks(int64_t counterFrequency, uint32_t bufferFrames, uint32_t rate);

// 2.9 device buffers in milliseconds, rounded to nearest: the render thread's wait
// time-out while data is queued.
uint32_t WaitTimeoutMs(uint32_t bufferFrames, uint32_t rate);

// The device has played everything it received and ran dry: the frames elapsed
// since the stream started, less the latency, have reached the frames rendered.
bool StreamRanDry(int64_t ticksSinceStart, uint32_t rate, int64_t counterFrequency,
                  uint32_t latencyFrames, uint64_t framesRendered);

// The play position from the anchor: advanced in real time while running (a
// negative elapsed time counts as 0), never past the frames consumed, never below
// the position reported before. Returns the new reported position.
uint64_t InterpolatedPosition(bool anchorValid, uint64_t anchorFrames, int64_t anchorTime,
                              bool running, int64_t now, uint32_t clientRate,
                              int64_t counterFrequency, uint64_t framesConsumed,
                              uint64_t reportedPosition);

// MMTIME units of a position p: TIME_MS, TIME_BYTES, otherwise TIME_SAMPLES (the
// requested type is changed). Low 32 bits of each.
constexpr uint32_t kTimeMs = 1;
constexpr uint32_t kTimeSamples = 2;
constexpr uint32_t kTimeBytes = 4;
uint32_t PositionInUnits(uint64_t frames, uint32_t& type, uint32_t clientRate,
                         uint32_t clientBlockAlign);
