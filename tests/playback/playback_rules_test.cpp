// The platform-free rules of playback: which files are converted or rendered, how
// big the buffers get, where the skips land, what the time, volume and format
// texts read, and where the sounding byte lies across a loop rewind.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "playback/playback_rules.h"
#include "sources/converter_progress.h"
#include "sources/file_kind.h"
#include "sources/source_stream.h"
#include "window/window_texts.h"

namespace {

struct KindCase {
  const char* path;
  FileKind kind;
};

TEST(FileKindRule, ExtensionDecidesConverterRexOrWave) {
  const KindCase cases[] = {
      {"C:\\m\\song.MP3", FileKind::Converted}, {"clip.m4a", FileKind::Converted},
      {"movie.mpeg", FileKind::Converted},      {"x.mka", FileKind::Converted},
      {"x.mp4", FileKind::Converted},           {"x.mid", FileKind::Wave},
      {"x.m4v", FileKind::Wave},                {"x.mov", FileKind::Wave},
      {"x.m", FileKind::Wave},                  {"x.mp", FileKind::Wave},
      {"loop.RX2", FileKind::Rex},              {"loop.rex", FileKind::Rex},
      {"a.wav", FileKind::Wave},                {"noextension", FileKind::Wave},
      {"dir.mp3\\plain", FileKind::Wave},       {"x.rx", FileKind::Wave},
      {"A.FLAC", FileKind::Converted},          {"x.Opus", FileKind::Converted},
      {"x.fla", FileKind::Wave},                {"x.flac2", FileKind::Wave},
      {"x.aiff.wav", FileKind::Wave},           {"x.wv", FileKind::Converted},
  };
  for (const KindCase& c : cases) {
    char name[256], ext[256];
    SplitFileName(c.path, name, ext, sizeof name);
    EXPECT_EQ(FileKindOfExtension(ext), c.kind) << c.path;
  }
}

TEST(FileKindRule, EveryExtensionOfTheConvertersTableIsConvertedAndOffered) {
  char filter[1024];
  ASSERT_TRUE(BrowseFilter(filter, sizeof filter));
  std::string patterns;  // the NUL-separated entries, each ended by '|'
  for (const char* p = filter; *p;) {
    const std::string name = p;
    const std::string shown = p += name.size() + 1;
    p += shown.size() + 1;
    EXPECT_EQ(name.substr(name.find('(')), "(" + shown + ")") << "each entry's name shows its patterns";
    patterns += name + "|" + shown + "|";
  }
  for (size_t i = 0; i < kConvertedExtensionCount; ++i) {
    const std::string e = kConvertedExtensions[i];
    std::string upper = e;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(FileKindOfExtension(e.c_str()), FileKind::Converted) << e;
    EXPECT_EQ(FileKindOfExtension(upper.c_str()), FileKind::Converted) << upper;
    const bool listed = patterns.find("*" + e + ";") != std::string::npos || patterns.find("*" + e + "|") != std::string::npos;
    EXPECT_TRUE(listed) << e << " in " << patterns;
  }
  EXPECT_EQ(patterns.rfind("All files(*.*)|*.*|"), patterns.size() - 19) << patterns;
  EXPECT_FALSE(BrowseFilter(filter, 40)) << "refused, not cut";
}

TEST(SourceStreamRule, TheConvertersDescriptionPicksTheOutputCodec) {
  struct Case {
    const char* audioLine;
    const char* codec;
    uint32_t rate, bits;
    const char* output;
  } cases[] = {
      {"Stream #0:0: Audio: flac, 96000 Hz, stereo, s32 (24 bit)", "flac", 96000, 24, "pcm_s24le"},
      {"Stream #0:0: Audio: flac, 44100 Hz, stereo, s16", "flac", 44100, 16, "pcm_s16le"},
      {"Stream #0:0(und): Audio: alac (alac / 0x63616C61), 96000 Hz, stereo, s32p (24 bit), 3072 kb/s", "alac",
       96000, 24, "pcm_s24le"},
      {"Stream #0:0: Audio: wavpack, 48000 Hz, 5.1(side), s32p", "wavpack", 48000, 32, "pcm_s32le"},
      {"Stream #0:0: Audio: ape (APE  / 0x20455041), 44100 Hz, stereo, u8p", "ape", 44100, 8, "pcm_u8"},
      {"Stream #0:0: Audio: pcm_f32be (fl32 / 0x32336C66), 48000 Hz, mono, flt, 1536 kb/s", "pcm_f32be", 48000, 32,
       "pcm_f32le"},
      {"Stream #0:0: Audio: pcm_s24be, 88200 Hz, 2 channels, s32 (24 bit), 4233 kb/s", "pcm_s24be", 88200, 24,
       "pcm_s24le"},
      {"Stream #0:0: Audio: tta, 44100 Hz, stereo, s32 (20 bit)", "tta", 44100, 20, "pcm_s24le"},
      {"Stream #0:0: Audio: wmalossless (a[1][0][0] / 0x0163), 96000 Hz, stereo, s32p (24 bit)", "wmalossless", 96000,
       24, "pcm_s24le"},
      {"Stream #0:0: Audio: wmav2 (a[1][0][0] / 0x0161), 44100 Hz, stereo, fltp, 192 kb/s", "wmav2", 44100, 32,
       "pcm_s16le"},
      {"Stream #0:0: Audio: mp3, 44100 Hz, stereo, fltp, 320 kb/s", "mp3", 44100, 32, "pcm_s16le"},
      {"Stream #0:0: Audio: opus, 48000 Hz, stereo, fltp", "opus", 48000, 32, "pcm_s16le"},
      {"Stream #0:0(eng): Audio: aac (LC) (mp4a / 0x6134706D), 44100 Hz, stereo, fltp, 128 kb/s", "aac", 44100, 32,
       "pcm_s16le"},
      {"Stream #0:0: Audio: dts (DTS), 48000 Hz, 5.1(side), s32p (24 bit)", "dts", 48000, 24, "pcm_s16le"},
      {"Stream #0:0: Video: png, rgb24, 600x600", "", 0, 0, "pcm_s16le"},
  };
  for (const Case& c : cases) {
    const std::string text = std::string("Input #0, x, from 'a':\r\n  Duration: 01:02:03.45, start: 0.0\r\n    ") +
                             c.audioLine + "\r\nAt least one output file must be specified\r\n";
    const SourceStream s = ParseSourceStream(text.c_str());
    EXPECT_STREQ(s.codec, c.codec) << c.audioLine;
    EXPECT_EQ(s.sampleRate, c.rate) << c.audioLine;
    EXPECT_EQ(s.bits, c.bits) << c.audioLine;
    EXPECT_STREQ(ConverterOutputCodec(s), c.output) << c.audioLine;
    EXPECT_EQ(s.durationMs, 3723450u) << c.audioLine;
  }
  EXPECT_FALSE(ParseSourceStream("ffmpeg version 4.1\nsong.xyz: Invalid data found when processing input\n").found);
  // A FLAC file's own STREAMINFO: 96000 Hz (0x17700), 2 channels, 24 bits, 96000 frames.
  const uint8_t flac[26] = {'f', 'L', 'a', 'C', 0x80, 0, 0, 34, 0x10, 0, 0x10, 0, 0, 0, 0, 0, 0, 0,
                            0x17, 0x70, 0x03, 0x70, 0, 0x01, 0x77, 0x00};
  SourceStream fromHeader;
  ASSERT_TRUE(ReadFlacStreamInfo(flac, sizeof flac, &fromHeader));
  EXPECT_EQ(fromHeader.sampleRate, 96000u);
  EXPECT_EQ(fromHeader.bits, 24u);
  EXPECT_EQ(fromHeader.durationMs, 1000u);
  EXPECT_STREQ(ConverterOutputCodec(fromHeader), "pcm_s24le");
  EXPECT_FALSE(ReadFlacStreamInfo(flac, 25, &fromHeader)) << "cut short";
  const uint8_t tagged[26] = {'I', 'D', '3', 4};
  EXPECT_FALSE(ReadFlacStreamInfo(tagged, sizeof tagged, &fromHeader)) << "a tag first: the converter is asked";
  // Kinds that can hold lossless audio are described first; lossy-only ones need not be.
  for (const char* e : {".mp3", ".MP2", ".opus", ".aac", ".ac3"}) EXPECT_TRUE(OnlyLossyExtension(e)) << e;
  for (const char* e : {".flac", ".m4a", ".mp4", ".ogg", ".oga", ".mka", ".mpeg", ".wv", ".caf", ".wma"}) {
    EXPECT_FALSE(OnlyLossyExtension(e)) << e;
  }
  EXPECT_EQ(ParseSourceStream("  Duration: N/A, bitrate: N/A\n").durationMs, 0u);
}

TEST(FileKindRule, SplitKeepsNameAndExtensionAndCutsToCapacity) {
  char name[8], ext[8];
  SplitFileName("D:\\Music\\a b.c.wav", name, ext, sizeof name);
  EXPECT_STREQ(name, "a b.c");
  EXPECT_STREQ(ext, ".wav");
  SplitFileName("C:verylongname.extension", name, ext, sizeof name);
  EXPECT_STREQ(name, "verylon");
  EXPECT_STREQ(ext, ".extens");
  SplitFileName("C:\\folder.d\\plain", name, ext, sizeof name);
  EXPECT_STREQ(name, "plain");
  EXPECT_STREQ(ext, "");
}

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

TEST(TimeText, ShortFormUpToAnHourLongFormBeyond) {
  constexpr uint32_t kRate = 44100;
  struct Case {
    uint32_t ms;
    uint32_t fileSeconds;
    const char* expected;
  } cases[] = {
      {754321, 20 * 60, "12'34.3"},
      {754321, 2 * 3600, "0:12'34.3"},
      {(3 * 3600 + 4 * 60 + 5) * 1000 + 600, 4 * 3600, "3:04'05.6"},
      {754321, 3600, "12'34.3"},       // exactly an hour is not more than an hour
      {754321, 3601, "0:12'34.3"},
      {0, 10, "00'00.0"},
      {59999, 100, "00'59.9"},
  };
  for (const auto& c : cases) {
    char text[32];
    FormatTimeText(text, sizeof text, c.ms, c.fileSeconds * kRate, kRate);
    EXPECT_STREQ(text, c.expected) << c.ms << " in " << c.fileSeconds << " s";
  }
}

TEST(VolumeText, SignWholeDecibelsAndTenths) {
  struct Case {
    int32_t v;
    const char* expected;
  } cases[] = {{-480, "-48.0dB"}, {120, "+12.0dB"}, {0, "0.0dB"}, {-5, "-0.5dB"},
               {60, "+6.0dB"},    {1, "+0.1dB"},    {-123, "-12.3dB"}};
  for (const auto& c : cases) {
    char text[16];
    FormatVolumeText(text, sizeof text, c.v);
    EXPECT_STREQ(text, c.expected) << c.v;
  }
}

TEST(DetailText, ClockHasHoursMinutesSecondsAndMilliseconds) {
  char text[32];
  FormatClockText(text, sizeof text, 1500);
  EXPECT_STREQ(text, "00:00:01.500");
  FormatClockText(text, sizeof text, 3723004);
  EXPECT_STREQ(text, "01:02:03.004");
}

TEST(FormatLineText, PrefixesForRexAndConvertedFiles) {
  char prefix[32], line[256];
  FormatLinePrefix(prefix, sizeof prefix, true, 120000, nullptr);
  EXPECT_STREQ(prefix, "REX: 120bpm ");
  FormatLinePrefix(prefix, sizeof prefix, true, 119500, nullptr);
  EXPECT_STREQ(prefix, "REX: 120bpm ") << "rounded to whole bpm";
  FormatLinePrefix(prefix, sizeof prefix, false, 0, ".mp3");
  EXPECT_STREQ(prefix, ".mp3 -> ");
  FormatLinePrefix(prefix, sizeof prefix, false, 0, ".verylongext");
  EXPECT_STREQ(prefix, ".verylong -> ") << "nine characters of the extension";
  FormatLinePrefix(prefix, sizeof prefix, false, 0, "");
  EXPECT_STREQ(prefix, "");
  FormatLine(line, sizeof line, "REX: 120bpm ", "PCM", 44100, 16, 2, 88200);
  EXPECT_STREQ(line, "REX: 120bpm PCM 44100Hz 16bit 2ch (88200samples 2.0secs)");
  FormatLine(line, sizeof line, "", "IEEE_FLOAT", 48000, 32, 1, 72000);
  EXPECT_STREQ(line, "IEEE_FLOAT 48000Hz 32bit 1ch (72000samples 1.5secs)");
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

TEST(ConverterRun, CommandLineAndTemporaryNames) {
  char line[600];
  ASSERT_TRUE(ConverterCommandLine(line, sizeof line, "C:\\a b\\s.mp3", "pcm_s16le", "C:\\t\\WAV1200.wav"));
  EXPECT_STREQ(line, "ffmpeg.exe -y -i \"C:\\a b\\s.mp3\" -acodec pcm_s16le \"C:\\t\\WAV1200.wav\"");
  ASSERT_TRUE(ConverterCommandLine(line, sizeof line, "s.flac", "pcm_s24le", "t.wav"));
  EXPECT_STREQ(line, "ffmpeg.exe -y -i \"s.flac\" -acodec pcm_s24le \"t.wav\"");
  EXPECT_FALSE(ConverterCommandLine(line, 20, "C:\\a.mp3", "pcm_s16le", "C:\\b.wav")) << "refused, not cut";
  char name[32];
  ConversionTempName(name, sizeof name, 0x12345678, 0);
  EXPECT_STREQ(name, "WAV5600.wav");
  ConversionTempName(name, sizeof name, 0xFFFF, 255);
  EXPECT_STREQ(name, "WAVFFFF.wav");
  ConversionTempName(name, sizeof name, 0x00AB, 3);
  EXPECT_STREQ(name, "WAV0003.wav");
}

// What the converter prints, in pieces as a pipe delivers them, and how far that is.
TEST(ConverterProgressRule, ReadsTheSourcesLengthThenTheTimeConverted) {
  const char* header =
      "Input #0, mp3, from 'a.mp3':\n  Duration: 01:00:00.05, start: 0.025057, bitrate: 320 kb/s\n"
      "Output #0, wav, to 'b.wav':\n";
  struct Case {
    const char* name;
    std::vector<std::string> pieces;
    int percent;
  } cases[] = {
      {"nothing yet", {}, -1},
      {"the length alone", {header}, 0},
      {"a progress line", {header, "size=  1024kB time=00:30:00.02 bitrate=1411.2kbits/s speed=12x\r"}, 49},
      {"the latest line counts", {header, "time=00:06:00.00 \r", "time=00:54:00.00 \r"}, 89},
      {"split inside the numbers", {"  Durat", "ion: 00:00:1", "0.00, start\n", "time=00:0", "0:02.50 b\r"}, 25},
      {"the end", {header, "time=01:00:00.05 \r"}, 100},
      {"past the length", {"Duration: 00:00:02.00,\r", "time=00:00:02.40\r"}, 100},
      {"no length: time alone gives no percentage", {"time=00:00:03.00 bitrate\r"}, -1},
      {"an unknown length", {"Duration: N/A, bitrate: N/A\n", "time=00:00:03.00\r"}, -1},
      {"a zero length", {"Duration: 00:00:00.00,\n", "time=00:00:03.00\r"}, -1},
      {"the output's length does not replace the source's",
       {header, "  Duration: 00:00:01.00\n", "time=00:30:00.00\r"}, 49},
      {"a line not ended yet is not read", {header, "time=00:30:00.00"}, 0},
  };
  for (const Case& c : cases) {
    ConverterProgress progress;
    for (const std::string& piece : c.pieces) progress.Read(piece.data(), piece.size());
    EXPECT_EQ(progress.Percent(), c.percent) << c.name;
  }
}

TEST(ConverterProgressRule, ClockTextsAndStatusLines) {
  struct Clock {
    const char* text;
    bool read;
    uint32_t ms;
  } clocks[] = {{"00:00:00.00", true, 0},          {"01:02:03.45", true, 3723450},
                {"00:00:07", true, 7000},           {"00:00:07.123456", true, 7123},
                {"1193:02:47.295", true, 0xFFFFFFFFu}, {"N/A", false, 77},
                {"00:60:00.00", false, 77},         {"00:00", false, 77},  {"-00:00:01.00", false, 77}};
  for (const Clock& c : clocks) {
    uint32_t ms = 77;
    EXPECT_EQ(ParseClockText(c.text, &ms), c.read) << c.text;
    EXPECT_EQ(ms, c.ms) << c.text;
  }
  char text[64];
  FormatConversionStatus(text, sizeof text, 42, 9999);
  EXPECT_STREQ(text, "Converting to wav file ... 42 %");
  FormatConversionStatus(text, sizeof text, -1, 3999);
  EXPECT_STREQ(text, "Converting to wav file ... 3 s");
}

}  // namespace
