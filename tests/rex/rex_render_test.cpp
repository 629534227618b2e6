// The REX render driver against an in-process library: call order, batching, the
// frame count, result codes, output naming, and the 16-bit WAVE file it writes,
// read back with the player's own WAVE reader.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "sources/wave_source.h"
#include "rex/fake_rex_library.h"
#include "rex/rex_render.h"
#include "support/memory_byte_source.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// At 25600 Hz and 100 bpm one length unit is exactly one frame.
constexpr int32_t kUnitRate = 25600;
constexpr uint32_t kUnitTempo = 100000;
constexpr RexHandle kHandle = 77;

class ScratchDir {
 public:
  ScratchDir() {
    static int counter = 0;
    path_ = fs::temp_directory_path() / ("vexrex_" + std::to_string(counter++) + "_" +
                                         std::to_string(reinterpret_cast<uintptr_t>(this) & 0xFFFF));
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

uint32_t U32At(const Bytes& b, size_t at) {
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}

int16_t S16At(const Bytes& b, size_t at) { return static_cast<int16_t>(b[at] | (b[at + 1] << 8)); }

// Reads a written file back with the player's reader and returns its samples.
std::vector<int16_t> ReadBack(const std::string& path, WaveSource& wave) {
  Bytes bytes = ReadAll(path);
  MemoryByteSource source(bytes);
  EXPECT_EQ(ReadWaveSource(source, wave), WaveReadResult::Ok) << path;
  std::vector<int16_t> samples;
  for (size_t at = wave.dataOffset; at + 1 < wave.dataOffset + wave.dataSize; at += 2) {
    samples.push_back(S16At(bytes, at));
  }
  return samples;
}

int32_t Render(const RexEntryTable& table, const std::string& out, uint32_t tempo, int32_t rate) {
  return RenderRexLoop(&table, "loop.rx2", out.c_str(), kHandle, tempo, rate);
}

TEST(RexFrameCount, FollowsTheLengthFormulaTruncated) {
  struct Case {
    int32_t rate, length, tempo, channels;
    int64_t frames;
  } cases[] = {
      {44100, 61440, 120000, 2, 88200},   // two seconds at 120 bpm
      {44100, 61440, 95000, 1, 111410},   // 111410.526...
      {44100, 61440, 120500, 2, 87834},   // 87834.02...
      {kUnitRate, 130, kUnitTempo, 1, 130},
      {kUnitRate, 0, kUnitTempo, 1, 0},
      {48000, 1, 450000, 2, 0},           // 0.4 of a frame
      {192000, 0x7FFFFFFF, 20000, 1, -1}, // beyond what a WAVE file can hold
      {44100, 61440, 0, 2, -1},
      {44100, 61440, -120000, 2, -1},
      {0, 61440, 120000, 2, -1},
      {44100, -1, 120000, 2, -1},
      {44100, 61440, 120000, 0, -1},
      {44100, 61440, 120000, 3, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RexFrameCount(c.rate, c.length, c.tempo, c.channels), c.frames)
        << c.rate << " Hz, length " << c.length << ", tempo " << c.tempo << ", " << c.channels;
  }
}

TEST(FloatToPcm16, SaturatesAtFullScaleAndTruncatesTowardZero) {
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    float in;
    int16_t out;
  } cases[] = {
      {1.0f, 32767}, {1.5f, 32767}, {inf, 32767}, {-1.0f, -32768}, {-3.0f, -32768},
      {-inf, -32768}, {0.5f, 16383}, {-0.5f, -16383}, {0.0f, 0}, {-0.0f, 0},
      {0.99999994f, 32766}, {-0.99999994f, -32766}, {0.25f, 8191}, {-0.25f, -8191},
      {0.001f, 32}, {-0.001f, -32}, {0.9f / 32767, 0}, {-0.9f / 32767, 0}, {std::nanf(""), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(FloatToPcm16(c.in), c.out) << c.in;
}

TEST(FormatRexOutputName, PutsTheRoundedTempoRightAlignedInThreeCharacters) {
  struct Case {
    uint32_t tempo;
    const char* name;
  } cases[] = {
      {95000, "loop.rx2. 95.wav"},   {120000, "loop.rx2.120.wav"}, {120499, "loop.rx2.120.wav"},
      {120500, "loop.rx2.121.wav"},  {20000, "loop.rx2. 20.wav"},  {450000, "loop.rx2.450.wav"},
      {9499, "loop.rx2.  9.wav"},    {0xFFFFFFFFu, "loop.rx2.4294967.wav"},
  };
  for (const Case& c : cases) {
    char name[kRexPathBufferSize];
    ASSERT_TRUE(FormatRexOutputName(name, sizeof name, "loop.rx2", c.tempo));
    EXPECT_STREQ(name, c.name);
  }
}

TEST(FormatRexOutputName, RefusesPathsThatWouldNotFit) {
  char name[kRexPathBufferSize];
  EXPECT_TRUE(FormatRexOutputName(name, sizeof name, std::string(251, 'a').c_str(), 120000));
  EXPECT_EQ(std::strlen(name), 259u);
  EXPECT_FALSE(FormatRexOutputName(name, sizeof name, std::string(252, 'a').c_str(), 120000));
  // A four-digit tempo of a loop's own would push a 251-character path past the end.
  EXPECT_FALSE(FormatRexOutputName(name, sizeof name, std::string(251, 'a').c_str(), 1000000));
}

TEST(RenderRexLoop, CallsTheLibraryInOrderAndWritesOnePassAtTheTempo) {
  ScratchDir dir;
  const std::string out = dir.File("out.wav");
  RexEntryTable table = fakerex::Reset(2, 44100, 100000, 61440);
  ASSERT_EQ(Render(table, out, 120000, 44100), kRexRenderOk);

  const fakerex::State& s = fakerex::Get();
  EXPECT_EQ(s.tempoSet, 120000);
  ASSERT_EQ(s.batchesBeforeStop.size(), 88200u / 64 + 1);  // 1378 full batches and 8 frames
  std::vector<std::string> expected = {"GetInfo", "SetPreviewTempo", "StartPreview"};
  expected.insert(expected.end(), s.batchesBeforeStop.size(), "Batch");
  expected.push_back("StopPreview");
  expected.push_back("ExtraBatch");
  EXPECT_EQ(s.calls, expected);

  WaveSource wave;
  const std::vector<int16_t> samples = ReadBack(out, wave);
  EXPECT_EQ(wave.totalFrames, 88200u);
  EXPECT_EQ(wave.format.SampleRate(), 44100u);
  EXPECT_EQ(wave.format.Channels(), 2u);
  EXPECT_EQ(wave.format.BlockAlign(), 4u);
  EXPECT_EQ(wave.format.AvgBytesPerSec(), 176400u);
  ASSERT_EQ(samples.size(), 2u * 88200);
  for (uint32_t f = 0; f < 88200; ++f) {
    ASSERT_EQ(samples[2 * f], FloatToPcm16(fakerex::Sample(f, 0))) << f;
    ASSERT_EQ(samples[2 * f + 1], FloatToPcm16(fakerex::Sample(f, 1))) << f;
  }
}

TEST(RenderRexLoop, BatchesAreAtMost64FramesWithOneShortOneAtTheEnd) {
  struct Case {
    int32_t frames;
    std::vector<int32_t> batches;
  } cases[] = {
      {130, {64, 64, 2}}, {128, {64, 64}}, {63, {63}}, {1, {1}}, {64, {64}}, {0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.frames);
    ScratchDir dir;
    RexEntryTable table = fakerex::Reset(1, kUnitRate, kUnitTempo, c.frames);
    ASSERT_EQ(Render(table, dir.File("o.wav"), kUnitTempo, kUnitRate), kRexRenderOk);
    EXPECT_EQ(fakerex::Get().batchesBeforeStop, c.batches);
    EXPECT_EQ(fakerex::Get().calls.back(), "ExtraBatch") << "one batch after the stop, always";
    EXPECT_TRUE(fakerex::Get().secondPointerWasNull || c.frames == 0) << "mono passes no second channel";
    EXPECT_EQ(ReadAll(dir.File("o.wav")).size(), 44u + 2u * c.frames);
  }
}

TEST(RenderRexLoop, AnEmptyLoopWritesA44ByteFile) {
  ScratchDir dir;
  RexEntryTable table = fakerex::Reset(2, kUnitRate, kUnitTempo, 0);
  ASSERT_EQ(Render(table, dir.File("empty.wav"), kUnitTempo, kUnitRate), kRexRenderOk);
  const Bytes b = ReadAll(dir.File("empty.wav"));
  ASSERT_EQ(b.size(), 44u);
  EXPECT_EQ(U32At(b, 4), 36u);
  EXPECT_EQ(U32At(b, 40), 0u);
  MemoryByteSource source(b);
  WaveSource wave;
  EXPECT_EQ(ReadWaveSource(source, wave), WaveReadResult::NoAudioData)
      << "the player refuses it with its own message";
}

TEST(RenderRexLoop, MonoLoopWritesAMonoFileWithExactlyTheRenderedSamples) {
  ScratchDir dir;
  RexEntryTable table = fakerex::Reset(1, kUnitRate, kUnitTempo, 1000);
  ASSERT_EQ(Render(table, dir.File("mono.wav"), kUnitTempo, kUnitRate), kRexRenderOk);
  WaveSource wave;
  const std::vector<int16_t> samples = ReadBack(dir.File("mono.wav"), wave);
  EXPECT_EQ(wave.format.Channels(), 1u);
  EXPECT_EQ(wave.format.BlockAlign(), 2u);
  EXPECT_EQ(wave.format.BitsPerSample(), 16u);
  EXPECT_EQ(wave.format.FormatTag(), kFormatTagPcm);
  ASSERT_EQ(samples.size(), 1000u);
  for (uint32_t f = 0; f < 1000; ++f) ASSERT_EQ(samples[f], FloatToPcm16(fakerex::Sample(f, 0)));
}

TEST(RenderRexLoop, NoOutputPathNamesTheFileAfterTheLoopAndTempo) {
  ScratchDir dir;
  const std::string loop = dir.File("loop.rx2");
  struct Case {
    uint32_t tempo;
    const char* suffix;
  } cases[] = {{95000, ". 95.wav"}, {120000, ".120.wav"}, {120499, ".120.wav"}, {120500, ".121.wav"}};
  for (const Case& c : cases) {
    for (const char* none : {static_cast<const char*>(nullptr), ""}) {
      RexEntryTable table = fakerex::Reset(1, 44100, 100000, 64);
      ASSERT_EQ(RenderRexLoop(&table, loop.c_str(), none, kHandle, c.tempo, 44100), kRexRenderOk);
      EXPECT_TRUE(fs::exists(loop + c.suffix)) << loop + c.suffix;
      fs::remove(loop + c.suffix);
    }
  }
}

TEST(RenderRexLoop, OutputPathsOf260CharactersAreRefusedAnd259Accepted) {
  ScratchDir dir;
  const std::string base = dir.File("");
  ASSERT_LT(base.size(), 100u);
  const std::string longest = base + std::string(259 - base.size() - 4, 'n') + ".wav";
  const std::string tooLong = base + std::string(260 - base.size() - 4, 'n') + ".wav";
  ASSERT_EQ(longest.size(), 259u);
  RexEntryTable table = fakerex::Reset(1, kUnitRate, kUnitTempo, 10);
  EXPECT_EQ(Render(table, tooLong, kUnitTempo, kUnitRate), kRexRenderBadOutput);
  EXPECT_FALSE(fs::exists(tooLong));
  table = fakerex::Reset(1, kUnitRate, kUnitTempo, 10);
  EXPECT_EQ(Render(table, longest, kUnitTempo, kUnitRate), kRexRenderOk);
  EXPECT_EQ(ReadAll(longest).size(), 64u);
}

// Each way a render fails, with its code, leaves an existing output file alone.
TEST(RenderRexLoop, FailuresReturnTheirCodeAndLeaveTheOutputFileAsItWas) {
  using fakerex::State;
  struct Case {
    const char* name;
    void (*arrange)(State&, RexEntryTable&);
    int32_t result;
  } cases[] = {
      {"GetInfo refuses", [](State& s, RexEntryTable&) { s.getInfoResult = 7; }, 7},
      {"tempo refused", [](State& s, RexEntryTable&) { s.setTempoResult = 0; }, 0},
      {"start refused", [](State& s, RexEntryTable&) { s.startResult = 12; }, 12},
      {"second batch refused", [](State& s, RexEntryTable&) { s.failBatchNumber = 1; s.batchResult = 5; }, 5},
      {"stop refused", [](State& s, RexEntryTable&) { s.stopResult = -4; }, -4},
      {"extra batch refused", [](State& s, RexEntryTable&) { s.extraBatchResult = 9; }, 9},
      {"GetInfo unbound", [](State&, RexEntryTable& t) { t.getInfo = nullptr; }, kRexRenderNotLoaded},
      {"tempo unbound", [](State&, RexEntryTable& t) { t.setPreviewTempo = nullptr; }, kRexRenderNotLoaded},
      {"start unbound", [](State&, RexEntryTable& t) { t.startPreview = nullptr; }, kRexRenderNotLoaded},
      {"batch unbound", [](State&, RexEntryTable& t) { t.renderPreviewBatch = nullptr; }, kRexRenderNotLoaded},
      {"stop unbound", [](State&, RexEntryTable& t) { t.stopPreview = nullptr; }, kRexRenderNotLoaded},
      {"three channels", [](State& s, RexEntryTable&) { s.info.channels = 3; }, kRexRenderNoMemory},
      {"no channels", [](State& s, RexEntryTable&) { s.info.channels = 0; }, kRexRenderNoMemory},
      {"negative length", [](State& s, RexEntryTable&) { s.info.length = -64; }, kRexRenderNoMemory},
      {"endless loop", [](State& s, RexEntryTable&) { s.info.length = 0x7FFFFFFF; }, kRexRenderNoMemory},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string out = dir.File("kept.wav");
    WriteAll(out, "previous contents");
    RexEntryTable table = fakerex::Reset(2, kUnitRate, kUnitTempo, 200);
    c.arrange(fakerex::Get(), table);
    EXPECT_EQ(Render(table, out, kUnitTempo, kUnitRate), c.result);
    const Bytes kept = ReadAll(out);
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "previous contents");
  }
}

TEST(RenderRexLoop, NoLibraryAndUnusableTempoOrRateFailBeforeRendering) {
  ScratchDir dir;
  EXPECT_EQ(RenderRexLoop(nullptr, "loop.rx2", dir.File("a.wav").c_str(), kHandle, 120000, 44100),
            kRexRenderNotLoaded);
  struct Case {
    uint32_t tempo;
    int32_t rate;
  } cases[] = {{0, 44100}, {0x80000000u, 44100}, {120000, 0}, {120000, -44100}};
  for (const Case& c : cases) {
    RexEntryTable table = fakerex::Reset(2, 44100, 120000, 61440);
    EXPECT_EQ(Render(table, dir.File("a.wav"), c.tempo, c.rate), kRexRenderNoMemory);
    EXPECT_TRUE(fakerex::Get().batchesBeforeStop.empty());
    EXPECT_FALSE(fs::exists(dir.File("a.wav")));
  }
}

TEST(RenderRexLoop, AnOutputThatCannotBeCreatedGives666) {
  ScratchDir dir;
  RexEntryTable table = fakerex::Reset(1, kUnitRate, kUnitTempo, 10);
  EXPECT_EQ(Render(table, dir.File("no such folder/o.wav"), kUnitTempo, kUnitRate),
            kRexRenderBadOutput);
}

TEST(WriteWave16, WritesTheHeaderFieldByFieldAfterWhateverPrecedesIt) {
  ScratchDir dir;
  const std::string path = dir.File("w.wav");
  FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_TRUE(out);
  std::fputs("0123456789", out);  // the header is relative to where the stream stood
  float left[3] = {0.5f, -1.0f, 2.0f};
  float right[3] = {-0.5f, 1.0f, 0.0f};
  float* const pair[2] = {left, right};
  EXPECT_TRUE(WriteWave16(out, 22050, 3, 2, pair));
  std::fputs("tail", out);  // the stream is left at the end
  ASSERT_EQ(std::fclose(out), 0);

  const Bytes b = ReadAll(path);
  ASSERT_EQ(b.size(), 10u + 44 + 12 + 4);
  const Bytes w(b.begin() + 10, b.end() - 4);
  const uint8_t header[44] = {'R', 'I', 'F', 'F', 48, 0, 0, 0, 'W', 'A', 'V', 'E',
                              'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 2, 0,
                              0x22, 0x56, 0, 0, 0x88, 0x58, 1, 0, 4, 0, 16, 0,
                              'd', 'a', 't', 'a', 12, 0, 0, 0};
  EXPECT_EQ(Bytes(w.begin(), w.begin() + 44), Bytes(header, header + 44));
  const int16_t samples[6] = {16383, -16383, -32768, 32767, 32767, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(S16At(w, 44 + 2 * i), samples[i]) << i;
}

TEST(WriteWave16, OtherChannelCountsWriteNoSamples) {
  ScratchDir dir;
  float plane[8] = {};
  float* const pair[2] = {plane, plane};
  for (int32_t channels : {0, 3, 6}) {
    const std::string path = dir.File("c" + std::to_string(channels) + ".wav");
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(out);
    WriteWave16(out, 44100, 4, channels, pair);
    std::fclose(out);
    const Bytes b = ReadAll(path);
    ASSERT_EQ(b.size(), 44u);
    EXPECT_EQ(U32At(b, 4), 36u);
    EXPECT_EQ(b[22], channels);
    EXPECT_EQ(U32At(b, 40), 0u);
  }
}

TEST(WriteWave16, AStreamThatCannotBeWrittenIsReported) {
  ScratchDir dir;
  const std::string path = dir.File("ro.wav");
  WriteAll(path, "x");
  FILE* in = std::fopen(path.c_str(), "rb");
  ASSERT_TRUE(in);
  float plane[4] = {};
  float* const pair[2] = {plane, nullptr};
  EXPECT_FALSE(WriteWave16(in, 44100, 4, 1, pair));
  std::fclose(in);
}

}  // namespace
