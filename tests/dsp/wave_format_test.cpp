// The format record's derived quantities: frames, durations and offsets, and the
// saturating arithmetic under them.
#include <gtest/gtest.h>

#include "dsp/wave_format.h"

namespace {

TEST(MulDivSaturate, SaturatesInsteadOfOverflowingOrDividingByZero) {
  struct Case {
    uint32_t a, b, c, expected;
  };
  const Case cases[] = {
      {1024, 44100, 44359, 1018},              // IMA ADPCM frames per block
      {4, 44100, 176400, 1},                   // consistent PCM header
      {5, 7, 0, 0xFFFFFFFFu},                  // divisor 0 never divides
      {0, 7, 0, 0xFFFFFFFFu},
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu},  // high word equals c
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFFu},  // quotient > 32 bits
      {0x80000000u, 2, 2, 0x80000000u},
      {0x80000000u, 4, 2, 0xFFFFFFFFu},       // 2^32 does not fit
      {0xFFFFFFFFu, 1000, 1000, 0xFFFFFFFFu},  // just fits
      {3, 3, 2, 4},                            // rounds down
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MulDivSaturate(c.a, c.b, c.c), c.expected) << c.a << " " << c.b << " " << c.c;
  }
}

WaveFormat Format(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t blockAlign,
                  uint32_t avgBytes) {
  WaveFormat f;
  f.Allocate(18);
  f.SetU16(0, tag);
  f.SetU16(2, channels);
  f.SetU32(4, rate);
  f.SetU32(8, avgBytes);
  f.SetU16(12, blockAlign);
  return f;
}

TEST(DerivedQuantities, FramesDurationAndOffsets) {
  WaveFormat pcm = Format(1, 2, 44100, 4, 176400);
  EXPECT_EQ(FramesPerBlock(pcm), 1u);
  EXPECT_EQ(TotalFrames(pcm, 176400), 44100u);
  EXPECT_EQ(TotalFrames(pcm, 176403), 44100u) << "a partial frame is dropped";
  EXPECT_EQ(DurationSeconds(44100, 44100), 1u);
  EXPECT_EQ(DurationTenths(44100, 44100), 0u);
  EXPECT_EQ(DurationSeconds(88200 + 4409, 44100), 2u);
  EXPECT_EQ(DurationTenths(88200 + 4409, 44100), 0u);
  EXPECT_EQ(DurationTenths(88200 + 4410, 44100), 1u);
  EXPECT_EQ(DurationTenths(0xFFFFFFFFu, 192000), (0xFFFFFFFFu % 192000) * 10 / 192000);

  WaveFormat ima = Format(0x11, 2, 44100, 1024, 44359);
  EXPECT_EQ(FramesPerBlock(ima), 1018u);
  EXPECT_EQ(TotalFrames(ima, 1024 * 10 + 1000), 10180u);

  // Frames to bytes: 64-bit product, low 32 bits, rounded down to a block.
  EXPECT_EQ(FramesToByteOffset(pcm, 44100), 176400u);
  EXPECT_EQ(FramesToByteOffset(pcm, 0x40000000u), 0u) << "low 32 bits of 2^32";
  EXPECT_EQ(FramesToByteOffset(ima, 1018), 1023u - 1023u % 1024);
  EXPECT_EQ(FramesToByteOffset(ima, 2036), 1024u);
  WaveFormat odd = Format(1, 3, 8000, 3, 24001);  // inconsistent average: still whole blocks
  EXPECT_EQ(FramesToByteOffset(odd, 8000) % 3, 0u);

  EXPECT_EQ(FramesToMilliseconds(66150, 44100), 1500u);
  EXPECT_EQ(FramesToMilliseconds(0xFFFFFFFFu, 1000), 0xFFFFFFFFu);
  EXPECT_EQ(FramesToMilliseconds(0xFFFFFFFFu, 1), static_cast<uint32_t>(0xFFFFFFFFull * 1000));
  EXPECT_EQ(FramesToMilliseconds(5, 0), 0u);
}

}  // namespace
