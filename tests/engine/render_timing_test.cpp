// The render thread's arithmetic: buffer times, the underrun test, the position.
#include <gtest/gtest.h>

#include "engine/render_timing.h"

namespace {

TEST(RenderTiming, DeviceBufferTimesRoundToNearest) {
  // 480 frames at 48 kHz with a 10 MHz counter: 100000 ticks, 29 ms.
  EXPECT_EQ(PeriodTicks(10000000, 480, 48000), 100000u);
  EXPECT_EQ(WaitTimeoutMs(480, 48000), 29u);
  // 441 frames at 44.1 kHz: 2.9 × 10 ms. 144 frames (3 ms): 8.7 → 9 ms.
  EXPECT_EQ(WaitTimeoutMs(441, 44100), 29u);
  EXPECT_EQ(WaitTimeoutMs(144, 48000), 9u);
  // A counter at 3579545 Hz: 1 buffer of 480 frames = 35795.45 → 35795 ticks.
  EXPECT_EQ(PeriodTicks(3579545, 480, 48000), 35795u);
  EXPECT_EQ(PeriodTicks(3579545, 481, 48000), 35870u);  // 35869.99... rounds up
  EXPECT_EQ(PeriodTicks(1000, 480, 0), 0u);
}

TEST(RenderTiming, StreamRanDryOnlyOnceEverythingRenderedHasPlayed) {
  // 10 MHz counter, 48 kHz, latency 480 frames, 4800 frames rendered.
  const int64_t f = 10000000;
  EXPECT_FALSE(StreamRanDry(f / 10, 48000, f, 480, 4800)) << "4800 elapsed, latency not yet passed";
  EXPECT_FALSE(StreamRanDry(f * 5279 / 48000, 48000, f, 480, 4800));
  EXPECT_TRUE(StreamRanDry(f * 5280 / 48000 + 1, 48000, f, 480, 4800));
  EXPECT_FALSE(StreamRanDry(f * 100 / 48000, 48000, f, 480, 0)) << "within the latency";
  // A 3 GHz counter five hours into a 192 kHz stream: ticks × rate is past 2^63.
  const int64_t g = 3000000000;
  const int64_t fiveHours = g * 5 * 3600;
  const uint64_t played = 192000ull * 5 * 3600;
  EXPECT_TRUE(StreamRanDry(fiveHours, 192000, g, 480, played - 480));
  EXPECT_FALSE(StreamRanDry(fiveHours, 192000, g, 480, played - 479));
}

TEST(RenderTiming, PositionIsAnchoredInterpolatedAndBounded) {
  const int64_t f = 10000000;
  // No anchor: what was reported stands.
  EXPECT_EQ(InterpolatedPosition(false, 500, 0, true, f, 48000, f, 9999, 7), 7u);
  // Running: anchor + elapsed time; one second after the anchor at 48 kHz.
  EXPECT_EQ(InterpolatedPosition(true, 1000, f, true, 2 * f, 48000, f, 100000, 0), 49000u);
  // Never past the frames consumed, however long the counter runs on.
  EXPECT_EQ(InterpolatedPosition(true, 1000, f, true, 100 * f, 48000, f, 5000, 0), 5000u);
  // Stopped: stands at the anchor; a counter before the anchor counts as 0.
  EXPECT_EQ(InterpolatedPosition(true, 1000, f, false, 2 * f, 48000, f, 100000, 0), 1000u);
  EXPECT_EQ(InterpolatedPosition(true, 1000, 2 * f, true, f, 48000, f, 100000, 0), 1000u);
  // Never decreases.
  EXPECT_EQ(InterpolatedPosition(true, 1000, f, false, 2 * f, 48000, f, 100000, 3000), 3000u);
}

TEST(RenderTiming, PositionUnits) {
  uint32_t type = kTimeMs;
  EXPECT_EQ(PositionInUnits(96000, type, 48000, 4), 2000u);
  type = kTimeBytes;
  EXPECT_EQ(PositionInUnits(96000, type, 48000, 4), 384000u);
  type = 8;  // TIME_SMPTE comes back as samples
  EXPECT_EQ(PositionInUnits(96000, type, 48000, 4), 96000u);
  EXPECT_EQ(type, kTimeSamples);
  type = kTimeBytes;
  EXPECT_EQ(PositionInUnits(0x100000001ull, type, 48000, 4), 4u) << "low 32 bits";
}

}  // namespace
