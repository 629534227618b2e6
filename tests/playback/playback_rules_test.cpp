// The platform-free rules of playback: how big the buffers get, where the skips
// land, where the sounding byte lies across a loop rewind, and the tempo field.
#include <gtest/gtest.h>

#include <cstdint>

#include "playback/playback_rules.h"

namespace {

TEST(BufferRules, BytesRoundUpToWholeBlocksAndRefuseWhatDoesNotFit) {
  struct Case {
    uint32_t avg, block, ms, expected;
  } cases[] = {
      {176400, 4, 7, 1236},           // 1234 bytes before rounding up to the block of 4
      {176400, 4, 100, 17640},
      {176400, 4, 1, 176},            // 176.4 bytes: 176 is already whole blocks
      {88200, 2, 65535, 5780188},     // 5780187 before rounding up
      {264600, 6, 1, 264},            // 24-bit stereo
      {44100 * 3, 3, 3, 396},         // 396.9 rounded down first: already whole blocks
      {2000, 2048, 1, 2048},          // a block larger than the bytes asked for
      {0xFFFFFFFF, 4, 65535, 0},      // more than 32 bits can hold
      {176400, 0, 100, 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BufferBytes(c.avg, c.block, c.ms), c.expected) << c.avg << " " << c.block << " " << c.ms;
  }
}

struct SkipCase {
  double seconds;
  double expectedSeconds;
};

TEST(SkipTargets, BackGoesToTheStepBelowOrOneMoreWithinASecond) {
  constexpr uint32_t kRate = 44100;
  const SkipCase cases[] = {{12.3, 10}, {10.5, 5}, {3, 0}, {5.5, 0}, {0, 0},
                            {5, 0},     {6, 5},    {11, 10}, {10, 5}, {4.99, 0}};
  for (const SkipCase& c : cases) {
    const uint32_t p = static_cast<uint32_t>(c.seconds * kRate + 0.5);
    EXPECT_EQ(SkipBackTarget(p, kRate), static_cast<uint32_t>(c.expectedSeconds * kRate)) << c.seconds;
  }
}

TEST(SkipTargets, ForwardGoesToTheNextStepAbove) {
  constexpr uint32_t kRate = 44100;
  const SkipCase cases[] = {{12.3, 15}, {10, 15}, {0, 5}, {4.9, 5}, {14.99, 15}};
  for (const SkipCase& c : cases) {
    const uint32_t p = static_cast<uint32_t>(c.seconds * kRate + 0.5);
    EXPECT_EQ(SkipForwardTarget(p, kRate), static_cast<uint32_t>(c.expectedSeconds * kRate)) << c.seconds;
  }
  EXPECT_EQ(SkipForwardTarget(0xFFFFFFF0u, 192000), 0xFFFFFFFFu) << "saturates, never wraps to the start";
  EXPECT_EQ(SkipBackTarget(1000, 0), 0u);
}

TEST(PlayingPosition, QueuedBytesAreSubtractedAcrossALoopRewind) {
  struct Case {
    const char* what;
    uint32_t dataSize, remaining, queued, played, expected;
  } cases[] = {
      {"plain play", 1000000, 600000, 100000, 60000, 360000},
      {"nothing queued", 1000000, 0, 5000, 5000, 1000000},
      {"just after the rewind the end still sounds", 1000000, 1000000 - 20000, 900000, 850000,
       1000000 - 30000},
      {"remaining above size (read counts as full)", 1000, 2000, 0, 0, 1000},
      {"more than a whole pass queued of a short file", 1000, 900, 2500, 0, 600},
      {"no data", 0, 0, 10, 0, 0},
  };
  for (const auto& c : cases) {
    const uint32_t p = PlayingByte(c.dataSize, c.remaining, c.queued, c.played);
    EXPECT_EQ(p, c.expected) << c.what;
    if (c.dataSize) {
      EXPECT_LE(p, c.dataSize) << c.what;
    }
  }
}

TEST(TempoRule, OutsideTheSpinRangeIsRefusedZeroOrEmptyMeansTheLoopsOwn) {
  struct Case {
    bool checked, isNumber;
    uint32_t bpm;
    bool accepted;
    uint32_t tempo;
  } cases[] = {
      {true, true, 19, false, 0},   {true, true, 451, false, 0},  {true, true, 20, true, 20000},
      {true, true, 450, true, 450000}, {true, true, 0, true, 0},  {true, false, 0, true, 0},
      {false, true, 19, true, 0},   {false, true, 120, true, 0},
  };
  for (const auto& c : cases) {
    uint32_t tempo = 12345;
    EXPECT_EQ(TempoFromField(c.checked, c.isNumber, c.bpm, 20, 450, &tempo), c.accepted) << c.bpm;
    EXPECT_EQ(tempo, c.tempo) << c.bpm;
  }
}

}  // namespace
