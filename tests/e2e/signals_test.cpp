// The suite's judge of an underrun: which breaks in a recorded sound are the
// digital silence of the sink waiting for Wine's writer, and which are not.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "tests/e2e/signals.h"

namespace e2e {
namespace {

// A recording of `frames` of noise with `fill` written over frames [at, at + length).
std::vector<int16_t> NoiseWith(size_t frames, size_t at, size_t length, int16_t fill) {
  std::vector<int16_t> s = NoiseSamples(static_cast<uint32_t>(frames), 7);
  for (size_t f = at; f < at + length && f < frames; ++f) s[2 * f] = s[2 * f + 1] = fill;
  return s;
}

struct GapCase {
  const char* name;
  std::vector<int16_t> recording;
  std::vector<size_t> expected;
};

TEST(UnderrunGapTest, DigitalSilenceInsideTheSoundIsAnUnderrunElseNot) {
  std::vector<int16_t> floorTail = NoiseWith(20000, 19000, 1000, 0);
  for (size_t f = 19600; f < 20000; ++f) floorTail[2 * f] = floorTail[2 * f + 1] = INT16_MIN;
  std::vector<int16_t> floorThenSound = NoiseWith(20000, 10000, 600, 0);
  for (size_t f = 10300; f < 10600; ++f) floorThenSound[2 * f] = floorThenSound[2 * f + 1] = INT16_MIN;
  std::vector<int16_t> rampedTail = NoiseWith(20000, 19000, 580, 0);
  for (size_t f = 19580; f < 19600; ++f) rampedTail[2 * f] = rampedTail[2 * f + 1] = -1000;
  for (size_t f = 19600; f < 20000; ++f) rampedTail[2 * f] = rampedTail[2 * f + 1] = INT16_MIN;
  std::vector<int16_t> g711Tail = NoiseWith(20000, 19000, 440, 0);  // A-law's zero byte through the resampler
  for (size_t f = 19440; f < 20000; ++f) g711Tail[2 * f] = g711Tail[2 * f + 1] = static_cast<int16_t>(-5505 - f % 2);
  std::vector<int16_t> twoGaps = NoiseWith(20000, 3000, 220, 0);
  for (size_t f = 12000; f < 12300; ++f) twoGaps[2 * f] = twoGaps[2 * f + 1] = 0;
  std::vector<int16_t> oneChannel = NoiseWith(20000, 0, 0, 0);
  for (size_t f = 5000; f < 6000; ++f) oneChannel[2 * f] = 0;

  const GapCase cases[] = {
      {"unbroken noise", NoiseWith(20000, 0, 0, 0), {}},
      {"1100 frames of silence in the middle", NoiseWith(20000, 8000, 1100, 0), {8000}},
      {"two breaks", twoGaps, {3000, 12000}},
      {"exactly the shortest gap", NoiseWith(20000, 8000, kUnderrunFrames, 0), {8000}},
      {"one frame shorter", NoiseWith(20000, 8000, kUnderrunFrames - 1, 0), {}},
      {"a quiet but not silent stretch", NoiseWith(20000, 8000, 1100, 3), {}},
      {"silence on one channel only", oneChannel, {}},
      {"an 8-bit stream's padded end", floorTail, {}},
      {"the padding, then sound again", floorThenSound, {10000}},
      {"the padded end after the resampler's ramp", rampedTail, {}},
      {"a G.711 stream's padded end", g711Tail, {}},
      {"a pause of a second splits the sound", NoiseWith(100000, 30000, 44100, 0), {}},
  };
  for (const GapCase& c : cases) {
    EXPECT_EQ(UnderrunGaps(c.recording), c.expected) << c.name;
  }
}

// A recording: silence, then the signal's frames [from, to) for each piece in turn,
// with `zeros` frames of digital silence before each piece after the first.
struct Piece {
  size_t from, to, zeros;
};
std::vector<int16_t> Recorded(const std::vector<int16_t>& signal, const std::vector<Piece>& pieces) {
  std::vector<int16_t> r(2 * 3000, 0);
  for (const Piece& p : pieces) {
    r.insert(r.end(), 2 * p.zeros, 0);
    r.insert(r.end(), signal.begin() + 2 * p.from, signal.begin() + 2 * p.to);
  }
  r.insert(r.end(), 2 * 3000, 0);
  return r;
}

struct FollowCase {
  const char* name;
  std::vector<Piece> pieces;
  size_t reachedFrame;
  int underruns;
};

TEST(FollowAcrossUnderrunsTest, StepsOverTheSinksUnderrunsAndNothingElse) {
  const std::vector<int16_t> signal = NoiseSamples(20000, 9);
  std::vector<int16_t> wrongSample = Recorded(signal, {{0, 20000, 0}});
  wrongSample[2 * (3000 + 12000) + 1] ^= 1;
  const FollowCase cases[] = {
      {"the whole signal", {{0, 20000, 0}}, 20000, 0},
      {"an underrun: silence, then a little skipped", {{0, 8000, 0}, {8189, 20000, 1100}}, 20000, 1},
      {"an underrun skipping nothing", {{0, 8000, 0}, {8000, 20000, 220}}, 20000, 1},
      {"two underruns", {{0, 5000, 0}, {5100, 12000, 300}, {12050, 20000, 600}}, 20000, 2},
      {"two underruns 83 frames apart", {{0, 8000, 0}, {8137, 8220, 880}, {8220, 20000, 662}}, 20000, 2},
      {"one frame of silence, nothing skipped", {{0, 8000, 0}, {8000, 20000, 1}}, 20000, 1},
      {"a little skipped without silence", {{0, 8000, 0}, {8003, 20000, 0}}, 20000, 1},
      {"the longest silence and skip let be", {{0, 8000, 0}, {8000 + kMaxGapFrames, 20000, kMaxGapFrames}}, 20000, 1},
      {"a silence longer than that", {{0, 8000, 0}, {8000, 20000, kMaxGapFrames + 1}}, 8000, 0},
      {"a skip longer than that", {{0, 8000, 0}, {8001 + kMaxGapFrames, 20000, 0}}, 8000, 0},
      {"a buffer lost without silence", {{0, 8000, 0}, {12410, 20000, 0}}, 8000, 0},
      {"a buffer of silence", {{0, 8000, 0}, {8000, 20000, 4410}}, 8000, 0},
      {"silence, then a jump of a buffer", {{0, 8000, 0}, {12410, 20000, 1100}}, 8000, 0},
      {"a buffer written twice", {{0, 8000, 0}, {3590, 20000, 0}}, 8000, 0},
      {"silence, then a step back", {{0, 8000, 0}, {7000, 20000, 300}}, 8000, 0},
  };
  for (const FollowCase& c : cases) {
    const Following f = FollowAcrossUnderruns(Recorded(signal, c.pieces), signal, 600);
    EXPECT_EQ(f.signalEnd / 2, c.reachedFrame) << c.name;
    EXPECT_EQ(f.underruns, c.underruns) << c.name;
  }
  EXPECT_EQ(FollowAcrossUnderruns(wrongSample, signal, 600).signalEnd, 2 * 12000 + 1) << "a wrong sample";
  EXPECT_EQ(FollowAcrossUnderruns(Recorded(signal, cases[3].pieces), signal, 600).firstUnderrunInSignal, 2 * 5000)
      << "where the first underrun broke in";
  EXPECT_EQ(FollowAcrossUnderruns(std::vector<int16_t>(20000, 0), signal, 600).recordingEnd, SIZE_MAX)
      << "a signal that never sounded";
}

TEST(UnderrunGapTest, MeasuresLeaveTheUnderrunsSilenceOut) {
  const std::vector<int16_t> signal = NoiseSamples(20000, 13);
  const std::vector<int16_t> broken = Recorded(signal, {{0, 5000, 0}, {5000, 6000, 500}, {6000, 20000, 40}});
  const Stretch s = SoundingStretches(broken).at(0);
  EXPECT_EQ(s.Frames(), 20000u + 500 + 40);
  EXPECT_EQ(SoundFrames(broken, s), 20000u + 40) << "the 40-frame run is too short to be an underrun";
  // A drained 8-bit stream: 400 frames of silence, 20 of ramp, then 600 of padding.
  std::vector<int16_t> padded = broken;
  padded.resize(2 * (s.end + 420), 0);
  for (size_t f = s.end + 400; f < s.end + 420; ++f) padded[2 * f] = padded[2 * f + 1] = -1000;
  padded.resize(2 * (s.end + 1020), INT16_MIN);
  const Stretch p = SoundingStretches(padded).at(0);
  EXPECT_EQ(p.Frames(), 20000u + 500 + 40 + 1020);
  EXPECT_EQ(SoundFrames(padded, p), 20000u + 40 + 20) << "the drain's silence and padding left out";
}

TEST(UnderrunGapTest, AToneMeasuredOverWindowsKeepsItsFrequencyAndLevelAcrossAnUnderrun) {
  // 440 Hz at half scale, 0.5 s; then the same with 20 frames of silence and 100
  // frames skipped in its middle, as an underrun looks after the sink's resampling.
  std::vector<int16_t> clean, broken;
  for (int i = 0; i < 22050; ++i) {
    const auto v = static_cast<int16_t>(16384 * std::sin(2 * kPi * 440 * i / kSinkRate));
    clean.insert(clean.end(), {v, v});
    if (i == 11000) broken.insert(broken.end(), 40, 0);
    if (i < 11000 || i >= 11100) broken.insert(broken.end(), {v, v});
  }
  const Stretch c{0, clean.size() / 2}, b{0, broken.size() / 2};
  EXPECT_GT(std::abs(ToneFrequency(broken, b, 0) - 440), 1.0) << "one count over the stretch is bent";
  EXPECT_NEAR(ToneFrequencyOverWindows(clean, c, 0), 440, 0.01);
  EXPECT_NEAR(ToneFrequencyOverWindows(broken, b, 0), 440, 0.01);
  EXPECT_NEAR(RmsDbOverWindows(broken, b, 0), RmsDbOverWindows(clean, c, 0), 0.01);
}

}  // namespace
}  // namespace e2e
