// Opening real WAVE files under Windows: share modes, delete-on-close, and the
// chunk walk over a file handle.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "sources/wave_file.h"
#include "support/temp_dir.h"
#include "support/wave_bytes.h"
#include "win32/scoped_handle.h"

using namespace wavebytes;

namespace {

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

uint64_t FilePosition(HANDLE file) {
  LARGE_INTEGER zero{};
  LARGE_INTEGER now{};
  SetFilePointerEx(file, zero, &now, FILE_CURRENT);
  return static_cast<uint64_t>(now.QuadPart);
}

TEST(OpenWaveFile, ReadsAWaveFileAndStopsAtItsData) {
  TempDir dir;
  const std::string path = dir.Write("tone.wav", Riff({Chunk("LIST", Filled(33, 1)),
                                                        Chunk("fmt ", FmtBody(1, 2, 44100, 16)),
                                                        Chunk("data", Filled(176400, 5))}));
  ScopedHandle file(OpenWaveFile(path.c_str(), false));
  ASSERT_TRUE(file.IsValid());
  FileByteSource source(file.Get());
  WaveSource wave;
  ASSERT_EQ(ReadWaveSource(source, wave), WaveReadResult::Ok);
  EXPECT_EQ(wave.totalFrames, 44100u);
  EXPECT_EQ(wave.dataOffset, 12u + 42 + 24 + 8);
  EXPECT_EQ(FilePosition(file.Get()), wave.dataOffset);
}

TEST(OpenWaveFile, RefusesAMissingFileAndAFolder) {
  TempDir dir;
  EXPECT_FALSE(ScopedHandle(OpenWaveFile((dir.Path() + "\\missing.wav").c_str(), false)).IsValid());
  EXPECT_FALSE(ScopedHandle(OpenWaveFile(dir.Path().c_str(), false)).IsValid());
  EXPECT_FALSE(Exists(dir.Path() + "\\missing.wav")) << "existing files only: nothing created";
}

TEST(OpenWaveFile, LetsAnotherProgramKeepWritingWhileItPlays) {
  TempDir dir;
  const std::string path = dir.Write("growing.wav", PcmFile(2, 44100, 16, 400));
  // A recorder holds the file open for writing; the player can still open it...
  ScopedHandle writer(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(writer.IsValid());
  ScopedHandle file(OpenWaveFile(path.c_str(), false));
  ASSERT_TRUE(file.IsValid());
  // ...and while the player has it, the writer can open it anew, but nobody may delete it.
  ScopedHandle second(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr));
  EXPECT_TRUE(second.IsValid());
  EXPECT_FALSE(DeleteFileA(path.c_str()));
}

TEST(OpenWaveFile, TemporaryFileIsGoneWhenClosedOnEveryPath) {
  TempDir dir;
  // Closed after a good read, and closed after the walk refused the file.
  const std::string good = dir.Write("WAV1.tmp", PcmFile(1, 8000, 8, 100));
  const std::string bad = dir.Write("WAV2.tmp", Bytes{'R', 'I', 'F', 'F'});
  for (const std::string& path : {good, bad}) {
    SCOPED_TRACE(path);
    {
      ScopedHandle file(OpenWaveFile(path.c_str(), true));
      ASSERT_TRUE(file.IsValid());
      FileByteSource source(file.Get());
      WaveSource wave;
      ReadWaveSource(source, wave);
      EXPECT_TRUE(Exists(path)) << "still there while open";
    }
    EXPECT_FALSE(Exists(path));
  }
  // An ordinary open leaves the file where it was.
  const std::string kept = dir.Write("kept.wav", PcmFile(1, 8000, 8, 100));
  { ScopedHandle file(OpenWaveFile(kept.c_str(), false)); }
  EXPECT_TRUE(Exists(kept));
}

TEST(OpenWaveFile, DataLargerThanTheFileIsAcceptedAndReadsComeUpShort) {
  TempDir dir;
  Bytes bytes = Riff({Chunk("fmt ", FmtBody(1, 2, 44100, 16))});
  Append(bytes, Chunk("data", Filled(100, 3), 4000));
  const std::string path = dir.Write("cut.wav", bytes);
  ScopedHandle file(OpenWaveFile(path.c_str(), false));
  ASSERT_TRUE(file.IsValid());
  FileByteSource source(file.Get());
  WaveSource wave;
  ASSERT_EQ(ReadWaveSource(source, wave), WaveReadResult::Ok);
  EXPECT_EQ(wave.totalFrames, 1000u);
  char buffer[4000];
  EXPECT_EQ(source.Read(buffer, sizeof buffer), 100u) << "the playback engine sees the short read";
}

TEST(FileByteSource, SeekPastTheEndLandsThereAndReadsNothing) {
  TempDir dir;
  const std::string path = dir.Write("short.wav", Bytes(20, 1));
  ScopedHandle file(OpenWaveFile(path.c_str(), false));
  ASSERT_TRUE(file.IsValid());
  FileByteSource source(file.Get());
  EXPECT_EQ(source.Seek(0x80000010u), 0x80000010u) << "positions above 2 GiB are unsigned";
  char b[8];
  EXPECT_EQ(source.Read(b, 8), 0u);
  EXPECT_EQ(source.Seek(4), 4u);
  EXPECT_EQ(source.Read(b, 8), 8u);
}

}  // namespace
