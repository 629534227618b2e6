// The exclusive-mode candidate order, the buffer-duration alignment and the text of
// a negotiation.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/wasapi_format_ladder.h"
#include "devices/wasapi_negotiation.h"

namespace {

std::vector<std::pair<int, int>> Ladder(uint32_t fileBits, uint32_t maxBits) {
  FormatCandidate out[kMaxFormatCandidates];
  const uint32_t n = BuildFormatLadder(fileBits, maxBits, out);
  std::vector<std::pair<int, int>> pairs;
  for (uint32_t i = 0; i < n; ++i) pairs.emplace_back(out[i].validBits, out[i].containerBits);
  return pairs;
}

using Pairs = std::vector<std::pair<int, int>>;

TEST(FormatLadder, CandidateOrderForEachFileDepthAndLimit) {
  struct Case {
    uint32_t fileBits, maxBits;
    Pairs expected;
  };
  const Case cases[] = {
      {8, 32, {{8, 8}, {8, 16}, {8, 24}, {8, 32}, {16, 16}, {16, 24}, {16, 32}, {24, 24},
               {24, 32}, {32, 32}}},
      {16, 32, {{16, 16}, {16, 24}, {16, 32}, {24, 24}, {24, 32}, {32, 32}}},
      {24, 32, {{24, 24}, {24, 32}, {32, 32}}},
      {32, 32, {{32, 32}}},
      // The limit lowers the first valid bits and stops the walk above it.
      {24, 16, {{16, 16}, {16, 24}, {16, 32}}},
      {32, 16, {{16, 16}, {16, 24}, {16, 32}}},
      {8, 16, {{8, 8}, {8, 16}, {8, 24}, {8, 32}, {16, 16}, {16, 24}, {16, 32}}},
      {16, 24, {{16, 16}, {16, 24}, {16, 32}, {24, 24}, {24, 32}}},
      // A limit between multiples of 8 starts there and steps to the next multiple.
      {24, 20, {{20, 20}, {20, 24}, {20, 32}}},
      // Limits below 8 count as 8: never a container without a whole byte.
      {16, 0, {{8, 8}, {8, 16}, {8, 24}, {8, 32}}},
      {16, 7, {{8, 8}, {8, 16}, {8, 24}, {8, 32}}},
      {16, 8, {{8, 8}, {8, 16}, {8, 24}, {8, 32}}},
      // A limit above 32 offers nothing more, and the walk ends.
      {16, 0xFFFFFFFFu, {{16, 16}, {16, 24}, {16, 32}, {24, 24}, {24, 32}, {32, 32}}},
      {32, 1000, {{32, 32}}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Ladder(c.fileBits, c.maxBits), c.expected)
        << "file " << c.fileBits << " bits, limit " << c.maxBits;
  }
}

TEST(AlignedPeriod, WholeFramesInMultiplesOf128Bytes) {
  struct Case {
    int64_t period;
    uint32_t blockAlign, rate;
    int64_t expected;
  };
  const Case cases[] = {
      {330000, 4, 44100, 333787},   // 1455 frames -> 1472
      {330000, 6, 44100, 333787},   // lcm 384, still 1472 frames
      {330000, 8, 48000, 330000},   // 1584 frames, already aligned
      {330000, 6, 96000, 333333},   // 3168 frames -> 3200
      {30000, 4, 44100, 36281},     // 3 ms minimum: 132 frames -> 160
      {500000, 4, 44100, 500680},   // 50 ms: 2205 frames -> 2208
      {0, 4, 44100, 0},
      {330000, 1, 8000, 480000},    // 8-bit mono: 264 frames -> 384 bytes, 48 ms
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AlignedPeriod(c.period, c.blockAlign, c.rate), c.expected)
        << c.period << " at " << c.rate << " Hz, block " << c.blockAlign;
  }
}

TEST(AlignedPeriod, ResultIsAlwaysAWholeMultipleOfTheGranule) {
  // For every block align a WASAPI format can have with up to 8 channels and every
  // usual rate, the duration converts back to a frame count whose bytes are a
  // multiple of lcm(block, 128); frames never shrink below the period asked for.
  const uint32_t rates[] = {8000, 11025, 22050, 44100, 48000, 88200, 96000, 176400, 192000};
  for (uint32_t block = 1; block <= 32; ++block) {
    for (uint32_t rate : rates) {
      const int64_t d = AlignedPeriod(330000, block, rate);
      const uint64_t frames = (static_cast<uint64_t>(d) * rate + 5000000) / 10000000;
      uint32_t lcm = block;
      while (lcm % 128 != 0) lcm += block;
      EXPECT_EQ(frames * block % lcm, 0u) << block << " " << rate;
      EXPECT_GE(frames, (rate * 330000ull + 5000000) / 10000000) << block << " " << rate;
    }
  }
}

TEST(FormatRecordFields, BlockAlignMaskPeriodAndLatency) {
  EXPECT_EQ(FrameBlockAlign(16, 2), 4);
  EXPECT_EQ(FrameBlockAlign(24, 2), 6);
  EXPECT_EQ(FrameBlockAlign(32, 256), 1024);
  EXPECT_EQ(FrameBlockAlign(32, 0x4001), 4) << "kept to 16 bits like the record's field";

  EXPECT_EQ(ChannelMaskFor(1), 0x1u);
  EXPECT_EQ(ChannelMaskFor(2), 0x3u);
  EXPECT_EQ(ChannelMaskFor(6), 0x3Fu);
  EXPECT_EQ(ChannelMaskFor(31), 0x7FFFFFFFu);
  EXPECT_EQ(ChannelMaskFor(32), 0u);
  EXPECT_EQ(ChannelMaskFor(256), 0u);

  EXPECT_EQ(WantedPeriod(30000, 33), 330000);
  EXPECT_EQ(WantedPeriod(30000, 0), 30000);
  EXPECT_EQ(WantedPeriod(500000, 33), 500000);
  EXPECT_EQ(WantedPeriod(30000, 0xFFFFFFFFu), 0xFFFFFFFFll * 10000) << "no 32-bit overflow";

  EXPECT_EQ(LatencyFrames(44100, 333787), 1472u);
  EXPECT_EQ(LatencyFrames(48000, 0), 0u);
  EXPECT_EQ(LatencyFrames(10, 500000), 1u) << "half a frame rounds up";
  EXPECT_EQ(LatencyFrames(10, 499999), 0u);
}

TEST(NegotiationText, EveryOfferWithItsAnswerAndTheChoice) {
  NegotiationLog log;
  char text[1024];
  FormatNegotiation(text, sizeof text, log);
  EXPECT_STREQ(text, "No format negotiated: wave-out takes the file's own format.");
  log.sampleRate = 44100;
  log.Add(24, 24, 1, static_cast<int32_t>(0x88890008u));
  log.Add(24, 32, 2, 0x1234);
  FormatNegotiation(text, sizeof text, log);
  EXPECT_STREQ(text, "Exclusive-mode formats offered at 44100 Hz:\r\n24 in 24 bits, 1 ch: AUDCLNT_E_UNSUPPORTED_FORMAT"
                     "\r\n24 in 32 bits, 2 ch: 0x00001234\r\nNo format was accepted.");
  for (uint32_t i = 0; i < kMaxFormatAttempts; ++i) log.Add(16, 16, 2, 0);
  EXPECT_EQ(log.count, kMaxFormatAttempts) << "a full log takes no more";
}

}  // namespace
