// Rendering loop files through the stand-in library into WAVE files, read back with
// the player's own WAVE reader: tempo, naming, layouts, exact samples, and every
// way out releasing the library and the loop file.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "sources/wave_file.h"
#include "rex/rex_render.h"
#include "rex/rex_standin_files.h"
#include "rex/rex_to_wave.h"
#include "win32/scoped_handle.h"

namespace {

using namespace rexfiles;

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadText(const std::string& path) {
  ScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                0, nullptr));
  char buffer[256];
  DWORD read = 0;
  if (!file.IsValid() || !ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr)) return "";
  return std::string(buffer, read);
}

struct ReadBack {
  bool ok = false;
  WaveSource wave;
  std::vector<int16_t> samples;
  uint64_t fileSize = 0;
};

ReadBack ReadWave(const std::string& path) {
  ReadBack r;
  ScopedHandle file(OpenWaveFile(path.c_str(), false));
  if (!file.IsValid()) return r;
  LARGE_INTEGER size{};
  GetFileSizeEx(file.Get(), &size);
  r.fileSize = static_cast<uint64_t>(size.QuadPart);
  FileByteSource source(file.Get());
  if (ReadWaveSource(source, r.wave) != WaveReadResult::Ok) return r;
  r.samples.resize(r.wave.dataSize / 2);
  r.ok = source.Read(r.samples.data(), r.wave.dataSize) == r.wave.dataSize;
  return r;
}

// Stored samples with a visible pattern, different in each channel.
Loop PatternLoop(int32_t channels, int32_t stored) {
  Loop loop;
  loop.channels = channels;
  for (int c = 0; c < channels; ++c) {
    for (int32_t i = 0; i < stored; ++i) {
      loop.samples[c].push_back(static_cast<float>((i * 131 + c * 7) % 200 - 100) / 90.0f);
    }
  }
  return loop;
}

class RexToWaveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vendor_.Place("v1_2_0"));
    TakeLog();
  }
  void TearDown() override {
    EXPECT_FALSE(AnyStandInLoaded()) << "every render unloads the library";
    EXPECT_EQ(LoadedRexEntries(), nullptr);
    UnloadCompletely();
  }

  std::string WriteLoop(const std::string& name, const Loop& loop) {
    return dir_.Write(name, loop.Bytes());
  }

  VendorFolder vendor_;
  TempDir dir_;
};

TEST_F(RexToWaveTest, StereoAt120BpmGivesTwoSecondsOfExactlyTheRenderedFrames) {
  Loop loop = PatternLoop(2, 1000);
  loop.tempo = 100000;
  const std::string rex = WriteLoop("loop.rx2", loop);
  const std::string out = dir_.Path() + "\\out.wav";
  uint32_t tempo = 120000;
  ASSERT_EQ(RenderRexToWave(rex.c_str(), out.c_str(), &tempo), 0);
  EXPECT_EQ(tempo, 120000u);

  const ReadBack r = ReadWave(out);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.wave.totalFrames, 88200u);
  EXPECT_EQ(r.wave.format.Channels(), 2u);
  EXPECT_EQ(r.wave.format.BlockAlign(), 4u);
  EXPECT_EQ(r.wave.format.SampleRate(), 44100u);
  EXPECT_EQ(r.fileSize, 44u + 88200u * 4);
  for (uint32_t f = 0; f < 88200; ++f) {
    ASSERT_EQ(r.samples[2 * f], FloatToPcm16(loop.samples[0][f % 1000])) << f;
    ASSERT_EQ(r.samples[2 * f + 1], FloatToPcm16(loop.samples[1][f % 1000])) << f;
  }

  // The whole conversation, in order: 1378 full batches, one of 8, the extra one.
  std::string expected = "Open(v1_2_0);Create(" + std::to_string(loop.Bytes().size()) + ",2," + rex +
                         ");GetInfo;GetCreatorInfo(1280);SetRate(44100);GetInfo;Tempo(120000);Start;";
  const std::string log = TakeLog();
  EXPECT_EQ(log.compare(0, expected.size(), expected), 0) << log.substr(0, 300);
  EXPECT_NE(log.find("Batch(64);Batch(8);Stop;AfterStop(64);Delete;Close;"), std::string::npos);
  size_t batches = 0;
  for (size_t at = 0; (at = log.find("Batch(", at)) != std::string::npos; ++at) ++batches;
  EXPECT_EQ(batches, 1379u);
}

TEST_F(RexToWaveTest, TempoZeroOrNoTempoRendersAtTheLoopsOwnAndReturnsIt) {
  Loop loop = PatternLoop(1, 64);
  loop.tempo = 95000;
  const std::string rex = WriteLoop("own.rx2", loop);
  const std::string out = dir_.Path() + "\\own.wav";
  uint32_t tempo = 0;
  ASSERT_EQ(RenderRexToWave(rex.c_str(), out.c_str(), &tempo), 0);
  EXPECT_EQ(tempo, 95000u);
  EXPECT_NE(TakeLog().find("Tempo(95000)"), std::string::npos);
  EXPECT_EQ(ReadWave(out).wave.totalFrames, 111410u);

  ASSERT_EQ(RenderRexToWave(rex.c_str(), out.c_str(), nullptr), 0);
  EXPECT_NE(TakeLog().find("Tempo(95000)"), std::string::npos);
}

TEST_F(RexToWaveTest, WithoutAnOutputPathTheFileIsNamedAfterLoopAndTempo) {
  const std::string rex = WriteLoop("loop.rx2", PatternLoop(1, 10));
  struct Case {
    uint32_t tempo;
    const char* suffix;
  } cases[] = {{95000, ". 95.wav"}, {120000, ".120.wav"}, {120499, ".120.wav"}, {120500, ".121.wav"}};
  for (const Case& c : cases) {
    for (const char* none : {static_cast<const char*>(nullptr), ""}) {
      uint32_t tempo = c.tempo;
      ASSERT_EQ(RenderRexToWave(rex.c_str(), none, &tempo), 0);
      const std::string expected = rex + c.suffix;
      EXPECT_TRUE(ReadWave(expected).ok) << expected;
      DeleteFileA(expected.c_str());
    }
  }
}

TEST_F(RexToWaveTest, MonoFrameCountsAroundTheBatchSize) {
  struct Case {
    int32_t length;  // at 25600 Hz and 100 bpm one unit is one frame
    uint32_t frames;
    const char* tail;  // the last batches, the stop and the extra batch
  } cases[] = {
      {130, 130, "Start;Batch(64);Batch(64);Batch(2);Stop;AfterStop(64);"},
      {40, 40, "Start;Batch(40);Stop;AfterStop(64);"},
      {0, 0, "Start;Stop;AfterStop(64);"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    Loop loop = PatternLoop(1, 50);
    loop.rate = 25600;
    loop.tempo = 100000;
    loop.length = c.length;
    const std::string rex = WriteLoop("m.rex", loop);
    const std::string out = dir_.Path() + "\\m.wav";
    ASSERT_EQ(RenderRexToWave(rex.c_str(), out.c_str(), nullptr), 0);
    EXPECT_NE(TakeLog().find(c.tail), std::string::npos);
    const ReadBack r = ReadWave(out);
    EXPECT_EQ(r.fileSize, 44u + 2u * c.frames);
    if (c.frames == 0) {
      EXPECT_EQ(ReadText(out).substr(4, 4), std::string("\x24\0\0\0", 4)) << "RIFF size 36";
      continue;
    }
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.wave.format.BlockAlign(), 2u);
    ASSERT_EQ(r.samples.size(), c.frames);
    for (uint32_t f = 0; f < c.frames; ++f) {
      EXPECT_EQ(r.samples[f], FloatToPcm16(loop.samples[0][f % 50])) << f;
    }
  }
}

TEST_F(RexToWaveTest, FloatEdgeValuesBecomeTheirSixteenBitValues) {
  Loop loop;
  loop.channels = 1;
  loop.rate = 25600;
  loop.tempo = 100000;
  loop.samples[0] = {1.0f, 1.5f, -1.0f, -2.0f, 0.5f, -0.5f, 0.0f, 0.99999994f};
  loop.length = 8;
  const std::string rex = WriteLoop("edges.rex", loop);
  const std::string out = dir_.Path() + "\\edges.wav";
  ASSERT_EQ(RenderRexToWave(rex.c_str(), out.c_str(), nullptr), 0);
  const ReadBack r = ReadWave(out);
  ASSERT_TRUE(r.ok);
  const std::vector<int16_t> expected = {32767, 32767, -32768, -32768, 16383, -16383, 0, 32766};
  EXPECT_EQ(r.samples, expected);
}

// Failures after the library parsed the loop: the render fails and an existing
// output file keeps its contents; the handle is deleted and the library closed.
TEST_F(RexToWaveTest, ARefusedBatchAfterTheStopOrAnOverlongPathFailsTheRender) {
  Loop refusing = PatternLoop(2, 10);
  refusing.flags = 1;
  const std::string out = dir_.Path() + "\\kept.wav";
  dir_.Write("kept.wav", {'o', 'l', 'd'});
  const std::string rex = WriteLoop("refusing.rx2", refusing);
  uint32_t tempo = 120000;
  EXPECT_EQ(RenderRexToWave(rex.c_str(), out.c_str(), &tempo), -1);
  std::string log = TakeLog();
  EXPECT_NE(log.find("Stop;AfterStop(64);Delete;Close;"), std::string::npos) << log.substr(log.size() - 80);
  EXPECT_EQ(ReadText(out), "old");

  const std::string fine = WriteLoop("fine.rx2", PatternLoop(2, 10));
  const std::string longPath = dir_.Path() + "\\" + std::string(260 - dir_.Path().size() - 5, 'x') + ".wav";
  ASSERT_EQ(longPath.size(), 260u);
  EXPECT_EQ(RenderRexToWave(fine.c_str(), longPath.c_str(), &tempo), -1);
  log = TakeLog();
  EXPECT_NE(log.find("AfterStop(64);Delete;Close;"), std::string::npos) << "refused only at the name";
  EXPECT_FALSE(Exists(longPath));
}

TEST_F(RexToWaveTest, EmptyMissingOrUnparsableLoopFilesFailBeforeOrAtParsing) {
  const std::string out = dir_.Path() + "\\none.wav";
  const std::string empty = dir_.Write("empty.rx2", {});
  const std::string missing = dir_.Path() + "\\missing.rx2";
  for (const std::string& rex : {empty, missing}) {
    SCOPED_TRACE(rex);
    EXPECT_EQ(RenderRexToWave(rex.c_str(), out.c_str(), nullptr), -1);
    EXPECT_EQ(TakeLog(), "Open(v1_2_0);Close;") << "the library never saw the file";
    EXPECT_FALSE(Exists(out));
  }
  // The library refusing the bytes: no REXDelete for a handle never created.
  const std::string garbage = dir_.Write("garbage.rx2", {'R', 'E', 'X', '2', 0, 0, 0, 0});
  EXPECT_EQ(RenderRexToWave(garbage.c_str(), out.c_str(), nullptr), -1);
  EXPECT_EQ(TakeLog(), "Open(v1_2_0);Create(8,2," + garbage + ");Close;");
  EXPECT_FALSE(Exists(out));
}

TEST_F(RexToWaveTest, TheLoopFileIsReleasedAfterEveryRender) {
  const std::string rex = WriteLoop("released.rx2", PatternLoop(1, 10));
  ASSERT_EQ(RenderRexToWave(rex.c_str(), (dir_.Path() + "\\r.wav").c_str(), nullptr), 0);
  // Exclusive access succeeds only when no handle, mapping or view is left open.
  ScopedHandle exclusive(CreateFileA(rex.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(exclusive.IsValid());
}

TEST(RexToWaveNoLibrary, FailsWithoutCreatingTheOutput) {
  TempDir dir;
  Loop loop;
  loop.samples[0] = {0.5f};
  loop.samples[1] = {0.5f};
  const std::string rex = dir.Write("l.rx2", loop.Bytes());
  const std::string out = dir.Path() + "\\l.wav";
  uint32_t tempo = 0;
  EXPECT_EQ(RenderRexToWave(rex.c_str(), out.c_str(), &tempo), -1);
  EXPECT_EQ(tempo, 0u) << "no tempo was used";
  EXPECT_FALSE(Exists(out));
}

}  // namespace
