// The WAVE chunk walk: what is accepted, what is refused with which message, and
// how little of the file it reads.
#include <gtest/gtest.h>

#include <algorithm>

#include "sources/wave_source.h"
#include "support/memory_byte_source.h"
#include "support/wave_bytes.h"

using namespace wavebytes;

namespace {

Bytes Fmt16Stereo() { return Chunk("fmt ", FmtBody(1, 2, 44100, 16)); }
Bytes Data(uint32_t n) { return Chunk("data", Filled(n, 0x11)); }

struct ReadCase {
  const char* name;
  Bytes file;
  WaveReadResult expected;
};

// One table per rule: every malformed container class with the result the user
// would see as a message.
std::vector<ReadCase> RefusedFiles() {
  std::vector<ReadCase> cases;
  auto add = [&](const char* name, Bytes file, WaveReadResult r) {
    cases.push_back({name, std::move(file), r});
  };
  const WaveReadResult kNot = WaveReadResult::NotGeneric;
  add("empty file", {}, kNot);
  add("header of 11 bytes", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V'}, kNot);
  add("RIFX byte order", Riff({Fmt16Stereo(), Data(4)}, "WAVE", "RIFX"), kNot);
  add("AVI form type", Riff({Fmt16Stereo(), Data(4)}, "AVI "), kNot);
  add("header only", Riff({}), kNot);
  add("chunk header cut by EOF", [] { Bytes b = Riff({Fmt16Stereo()}); b.insert(b.end(), {'d', 'a', 't'}); return b; }(), kNot);
  add("fmt without data", Riff({Fmt16Stereo()}), kNot);
  add("data without fmt", Riff({Data(8)}), kNot);
  add("fmt of 13 bytes", Riff({Chunk("fmt ", Filled(13, 1)), Data(4)}), kNot);
  add("fmt of 0 bytes", Riff({Chunk("fmt ", {}), Data(4)}), kNot);
  add("fmt cut off by EOF", [] {
        Bytes b = Riff({});
        Append(b, Chunk("fmt ", FmtBody(1, 2, 44100, 16), 40));  // claims 40, holds 16
        return b;
      }(), kNot);
  add("fmt duplicated", Riff({Fmt16Stereo(), Fmt16Stereo(), Data(4)}), kNot);
  add("data duplicated before fmt", Riff({Data(4), Data(4), Fmt16Stereo()}), kNot);
  add("data of size 0 before a good one", Riff({Chunk("data", {}), Data(4), Fmt16Stereo()}),
      WaveReadResult::NoAudioData);
  add("data of size 0 after fmt", Riff({Fmt16Stereo(), Chunk("data", {})}),
      WaveReadResult::NoAudioData);
  add("next position wraps past 4 GiB", Riff({Chunk("LIST", Filled(4), 0xFFFFFFF0u), Fmt16Stereo(), Data(4)}), kNot);
  add("chunk of size 0xFFFFFFFF to step over", Riff({Chunk("junk", {}, 0xFFFFFFFFu), Fmt16Stereo(), Data(4)}), kNot);
  add("fmt larger than any format record", [] {
        Bytes b = Riff({});
        Append(b, Chunk("fmt ", FmtBody(1, 2, 44100, 16), 0x7FFFFFFF));
        return b;
      }(), kNot);
  add("fmt of size 0xFFFFFFFF", [] {
        Bytes b = Riff({});
        Append(b, Chunk("fmt ", FmtBody(1, 2, 44100, 16), 0xFFFFFFFFu));
        return b;
      }(), kNot);
  add("zero block align", Riff({Chunk("fmt ", [] {
                                   Bytes f = FmtBody(1, 2, 44100, 16);
                                   f[12] = f[13] = 0;
                                   return f;
                                 }()),
                                 Data(4)}),
      kNot);
  add("zero sample rate", Riff({Chunk("fmt ", FmtBody(1, 2, 0, 16, 4, 1)), Data(4)}), kNot);
  add("identifier compared case-sensitively", Riff({Chunk("FMT ", FmtBody(1, 2, 44100, 16)), Data(4)}), kNot);
  return cases;
}

TEST(ReadWaveSource, RefusesMalformedContainersWithTheirMessage) {
  for (ReadCase& c : RefusedFiles()) {
    SCOPED_TRACE(c.name);
    MemoryByteSource source(c.file);
    WaveSource out;
    out.dataSize = 123;
    EXPECT_EQ(ReadWaveSource(source, out), c.expected);
    EXPECT_TRUE(out.format.IsEmpty()) << "the format record is released on failure";
    EXPECT_EQ(out.dataSize, 0u);
  }
}

TEST(ReadWaveSource, MessagesAreTheUsersTexts) {
  EXPECT_STREQ(WaveReadMessage(WaveReadResult::NotGeneric), "The file is not a generic WAV file.");
  EXPECT_STREQ(WaveReadMessage(WaveReadResult::NoAudioData),
               "The file does not contain any valid audio data.");
  EXPECT_EQ(WaveReadMessage(WaveReadResult::Ok), nullptr);
  EXPECT_STREQ(kMsgUnableToOpenWave, "Unable to open the WAVE file.");
  EXPECT_STREQ(kMsgWaveReadingError, "File reading error on the WAVE file.");
}

struct AcceptCase {
  const char* name;
  Bytes file;
  uint32_t dataOffset;
  uint32_t dataSize;
  uint32_t totalFrames;
  uint32_t formatSize;
};

TEST(ReadWaveSource, AcceptsSoundContainersAndEndsAtTheData) {
  Bytes unknown = Chunk("LIST", Filled(10, 7));
  Bytes odd = Chunk("odd ", Filled(5, 9));  // 8 + 6 with its pad byte
  std::vector<AcceptCase> cases = {
      {"fmt then data", Riff({Fmt16Stereo(), Data(176400)}), 12 + 24 + 8, 176400, 44100, 18},
      {"data, unknown, fmt", Riff({Data(400), unknown, Fmt16Stereo()}), 12 + 8, 400, 100, 18},
      {"odd chunk then pad byte", Riff({odd, Fmt16Stereo(), Data(8)}), 12 + 14 + 24 + 8, 8, 2, 18},
      {"RIFF size 0", [] { Bytes b = Riff({Chunk("fmt ", FmtBody(1, 1, 8000, 8)), Data(3)}); b[4] = b[5] = b[6] = b[7] = 0; return b; }(),
       12 + 24 + 8, 3, 3, 18},
      {"data claims more than the file", [] {
         Bytes b = Riff({Fmt16Stereo()});
         Append(b, Chunk("data", Filled(16), 1000000));
         return b;
       }(), 12 + 24 + 8, 1000000, 250000, 18},
      {"data of size 0xFFFFFFFF ends the walk", [] {
         Bytes b = Riff({Fmt16Stereo()});
         Append(b, Chunk("data", Filled(16), 0xFFFFFFFFu));
         return b;
       }(), 12 + 24 + 8, 0xFFFFFFFFu, 0x3FFFFFFFu, 18},
      {"chunks after data and fmt are never read", [] {
         Bytes b = Riff({Fmt16Stereo(), Data(4)});
         b.insert(b.end(), {'x', 'y'});  // a cut chunk header: never reached
         return b;
       }(), 12 + 24 + 8, 4, 1, 18},
      {"extensible 40 bytes", Riff({Chunk("fmt ", ExtensibleBody(2, 48000, 24, 24, 3, false)), Data(600)}),
       12 + 48 + 8, 600, 100, 40},
      {"fmt larger than 40 bytes keeps its tail", Riff({Chunk("fmt ", [] { Bytes f = ExtensibleBody(2, 48000, 16, 16, 3, false); f.resize(50, 0xEE); return f; }()), Data(4)}),
       12 + 58 + 8, 4, 1, 50},
  };
  for (AcceptCase& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryByteSource source(c.file);
    WaveSource out;
    ASSERT_EQ(ReadWaveSource(source, out), WaveReadResult::Ok);
    EXPECT_EQ(out.dataOffset, c.dataOffset);
    EXPECT_EQ(out.dataSize, c.dataSize);
    EXPECT_EQ(out.totalFrames, c.totalFrames);
    EXPECT_EQ(out.format.Size(), c.formatSize);
    EXPECT_EQ(source.Position(), c.dataOffset) << "left positioned at the data offset";
  }
}

TEST(ReadWaveSource, PlacesNoConditionOnTheFormatBeyondTheDivisors) {
  // Whether a format plays is decided when the device opens: the reader accepts a
  // zero channel count and an extensible record too short for its extension, whose
  // missing fields then read as zero.
  Bytes zeroChannels = FmtBody(1, 0, 44100, 16, 4, 176400);
  Bytes shortExtensible = FmtBody(0xFFFE, 2, 48000, 16);
  PutU16(shortExtensible, 22);
  PutU16(shortExtensible, 16);  // valid bits, and nothing more
  for (const Bytes& fmt : {zeroChannels, shortExtensible}) {
    MemoryByteSource source(Riff({Chunk("fmt ", fmt), Data(8)}));
    WaveSource out;
    ASSERT_EQ(ReadWaveSource(source, out), WaveReadResult::Ok);
    EXPECT_EQ(out.format.Size(), std::max<size_t>(fmt.size(), 18));
    EXPECT_EQ(out.totalFrames, 2u);
  }
  MemoryByteSource source(Riff({Chunk("fmt ", shortExtensible), Data(8)}));
  WaveSource out;
  ASSERT_EQ(ReadWaveSource(source, out), WaveReadResult::Ok);
  EXPECT_EQ(out.format.ExtensionSize(), 22u) << "kept as the file has it";
  EXPECT_EQ(out.format.ValidBitsPerSample(), 16u);
  EXPECT_EQ(out.format.ChannelMask(), 0u);
  EXPECT_EQ(out.format.SubFormat(), nullptr);
}

TEST(ReadWaveSource, ShortFmtChunksAreZeroFilledToEighteenBytes) {
  struct Case {
    uint32_t fmtSize;
    uint16_t bits;
    uint16_t extension;
  };
  // 14 bytes: no bits per sample; 16: no extension size; 18 with a PCM tag and an
  // extension size of 22: forced to 0 for PCM and float.
  Bytes f = FmtBody(1, 2, 44100, 16);
  PutU16(f, 22);
  for (Case c : {Case{14, 0, 0}, Case{16, 16, 0}, Case{18, 16, 0}}) {
    SCOPED_TRACE(c.fmtSize);
    Bytes body(f.begin(), f.begin() + c.fmtSize);
    MemoryByteSource source(Riff({Chunk("fmt ", body), Data(8)}));
    WaveSource out;
    ASSERT_EQ(ReadWaveSource(source, out), WaveReadResult::Ok);
    EXPECT_EQ(out.format.Size(), 18u);
    EXPECT_EQ(out.format.BitsPerSample(), c.bits);
    EXPECT_EQ(out.format.ExtensionSize(), c.extension);
  }
  // The extension size of a codec tag is kept as the file has it.
  Bytes adpcm = FmtBody(2, 1, 22050, 4, 512, 11155);
  PutU16(adpcm, 32);
  adpcm.resize(50, 0);
  MemoryByteSource source(Riff({Chunk("fmt ", adpcm), Data(1024)}));
  WaveSource out;
  ASSERT_EQ(ReadWaveSource(source, out), WaveReadResult::Ok);
  EXPECT_EQ(out.format.ExtensionSize(), 32u);
}

TEST(ReadWaveSource, ReadsOnlyTheHeadersAndTheFmtBody) {
  // A large unknown chunk and a large data chunk: neither is read, only skipped.
  Bytes file = Riff({Chunk("LIST", Filled(100000, 1)), Chunk("fmt ", FmtBody(1, 2, 44100, 16)),
                     Chunk("fact", Filled(4, 1)), Data(500000)});
  MemoryByteSource source(file);
  WaveSource out;
  ASSERT_EQ(ReadWaveSource(source, out), WaveReadResult::Ok);
  // 12-byte header, four 8-byte chunk headers, the 16-byte fmt body.
  EXPECT_EQ(source.reads, 6u);
  EXPECT_EQ(source.bytesRead, 12u + 4 * 8 + 16);
  // One seek past each of the first three chunks, one to the data offset.
  EXPECT_EQ(source.seeks, 4u);
}

TEST(ReadWaveSource, SeekThatMissesItsTargetIsNotGeneric) {
  Bytes file = Riff({Chunk("LIST", Filled(100, 1)), Fmt16Stereo(), Data(8)});
  MemoryByteSource source(file);
  source.failSeeksFrom = 12 + 108;
  WaveSource out;
  EXPECT_EQ(ReadWaveSource(source, out), WaveReadResult::NotGeneric);
}

TEST(ReadWaveSource, MillionsOfTinyChunksEndInLinearTime) {
  // Two million empty chunks before the format: the walk visits each once.
  const uint32_t chunks = 2000000;
  Bytes file = Riff({});
  file.reserve(file.size() + chunks * 8 + 64);
  for (uint32_t i = 0; i < chunks; ++i) Append(file, Chunk("pad ", {}));
  Append(file, Fmt16Stereo());
  Append(file, Data(4));
  MemoryByteSource source(file);
  WaveSource out;
  ASSERT_EQ(ReadWaveSource(source, out), WaveReadResult::Ok);
  EXPECT_EQ(source.reads, 1u + chunks + 2 + 1);
  EXPECT_EQ(out.dataOffset, 12 + chunks * 8 + 24 + 8);
}

}  // namespace
