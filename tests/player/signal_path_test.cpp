// The signal-path verdict, worked out from plain descriptions of paths.
#include <gtest/gtest.h>

#include <string>

#include "player/signal_path.h"

namespace {

constexpr PathFormat kInt16x2{16, false, 2};
constexpr PathFormat kInt24x2{24, false, 2};
constexpr PathFormat kFloat32x2{32, true, 2};

SignalPath Path(PathFormat file, PathFormat device, OutputRoute route = OutputRoute::kWasapiExclusive) {
  SignalPath path;
  path.file = file;
  path.device = device;
  path.route = route;
  return path;
}

// Each row changes one thing of an exact path, or stacks them to show the order.
TEST(SignalPathVerdict, NamesEveryStepThatChangesSamplesInPathOrder) {
  const std::string exact = "Bit-exact: the device receives the file's samples unchanged";
  struct Case {
    const char* name;
    SignalPath path;
    std::string verdict;
  };
  SignalPath mp3 = Path(kInt16x2, kInt16x2);
  mp3.converted = true;
  mp3.lossy = true;
  std::snprintf(mp3.codec, sizeof mp3.codec, "mp3");
  SignalPath flac = mp3;
  flac.lossy = false;
  SignalPath rex = Path(kInt16x2, kInt16x2);
  rex.rexRender = true;
  SignalPath quiet = Path(kInt24x2, {16, false, 2});
  quiet.volumeX10 = -30;
  SignalPath loud = Path(kInt16x2, kInt16x2, OutputRoute::kSoundMapper);
  loud.volumeX10 = 125;
  SignalPath everything = mp3;
  everything.file = {24, false, 6};
  everything.device = {16, false, 2};
  everything.rexRender = true;
  everything.volumeX10 = -5;
  everything.route = OutputRoute::kWaveOutDevice;
  const Case cases[] = {
      {"same format", Path(kInt16x2, kInt16x2), exact},
      {"16 into 24 bits", Path(kInt16x2, kInt24x2), exact},
      {"8 into 16 bits", Path({8, false, 1}, {16, false, 1}), exact},
      {"24 into float", Path(kInt24x2, kFloat32x2), exact},
      {"float into float", Path(kFloat32x2, kFloat32x2), exact},
      {"lossless conversion", flac, exact},
      {"32 bits into float", Path({32, false, 2}, kFloat32x2), "Not bit-exact: 32 bits → float (rounded)"},
      {"lossy conversion", mp3, "Not bit-exact: decoded from mp3 (lossy)"},
      {"REX render", rex, "Not bit-exact: rendered to 16 bits"},
      {"volume and cut", quiet, "Not bit-exact: volume -3.0 dB, 24 → 16 bits (cut)"},
      {"float into integers", Path(kFloat32x2, kInt24x2), "Not bit-exact: float → 24 bits (rounded)"},
      {"channel added", Path({16, false, 1}, kInt16x2), "Not bit-exact: 1 → 2 channels (added)"},
      {"channels dropped", Path({16, false, 6}, kInt16x2), "Not bit-exact: 6 → 2 channels (dropped)"},
      {"mapper", loud, "Not bit-exact: volume +12.5 dB, through the sound mapper"},
      {"wave-out device", Path(kInt16x2, kInt16x2, OutputRoute::kWaveOutDevice),
       "Not bit-exact: through the system mixer (wave-out)"},
      {"all at once", everything,
       "Not bit-exact: decoded from mp3 (lossy), rendered to 16 bits, volume -0.5 dB, 24 → 16 bits (cut), "
       "6 → 2 channels (dropped), through the system mixer (wave-out)"},
  };
  for (const Case& c : cases) {
    char text[512];
    FormatVerdict(text, sizeof text, c.path);
    EXPECT_EQ(text, c.verdict) << c.name;
    EXPECT_EQ(IsBitExact(c.path), c.verdict == exact) << c.name;
  }
  char small[20];
  FormatVerdict(small, sizeof small, everything);
  EXPECT_STREQ(small, "Not bit-exact: deco") << "cut to the buffer, terminated";
}

TEST(SignalPathVerdict, ConvertedSourcesAreLossyByTheirExtension) {
  const struct {
    const char* extension;
    const char* codec;
    bool lossy;
  } cases[] = {{".MP3", "mp3", true}, {".m4a", "m4a", true}, {".mpeg", "mpeg", true},
               {".mka", "mka", false}, {"", "", false}, {".mp3extra", "mp3e", false}};
  for (const auto& c : cases) {
    char codec[5];
    bool lossy = !c.lossy;
    CodecOfExtension(c.extension, codec, sizeof codec, &lossy);
    EXPECT_STREQ(codec, c.codec) << c.extension;
    EXPECT_EQ(lossy, c.lossy) << c.extension;
  }
}

}  // namespace
