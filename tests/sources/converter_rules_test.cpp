// The outside converter's platform-free rules: the output codec its description
// picks, its command line and temporary names, and its progress.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "sources/converter_progress.h"
#include "sources/source_stream.h"

namespace {

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
