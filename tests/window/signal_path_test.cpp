// The signal-path verdict, worked out from plain descriptions of paths.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "window/signal_path.h"

namespace {

const std::string kExact = "Bit-exact: the device receives the file's samples unchanged";

// One row per way a path can change samples, and one that stacks them to show the
// order; the paths the window reaches on the simulated endpoint are proven there.
TEST(SignalPathVerdict, NamesEveryStepThatChangesSamplesInPathOrder) {
  constexpr auto W = OutputRoute::kWasapiExclusive, M = OutputRoute::kSoundMapper, D = OutputRoute::kWaveOutDevice;
  const struct {
    PathFormat file, device;
    OutputRoute route;
    int32_t volume;
    bool rex;
    const char* lossyCodec;
    std::string verdict;
  } rows[] = {
      {{16, false, 2}, {16, false, 2}, W, 0, false, nullptr, kExact},
      {{24, false, 2}, {32, true, 2}, W, 0, false, nullptr, kExact},
      {{32, true, 2}, {32, true, 2}, W, 0, false, nullptr, kExact},
      {{32, false, 2}, {32, true, 2}, W, 0, false, nullptr, "Not bit-exact: 32 bits → float (rounded)"},
      {{16, false, 2}, {16, false, 2}, W, 0, false, "mp3", "Not bit-exact: decoded from mp3 (lossy)"},
      {{16, false, 2}, {16, false, 2}, W, 0, true, nullptr, "Not bit-exact: rendered to 16 bits"},
      {{24, false, 2}, {16, false, 2}, W, -30, false, nullptr, "Not bit-exact: volume -3.0 dB, 24 → 16 bits (cut)"},
      {{16, false, 6}, {16, false, 2}, W, 0, false, nullptr, "Not bit-exact: 6 → 2 channels (dropped)"},
      {{16, false, 2}, {16, false, 2}, M, 125, false, nullptr,
       "Not bit-exact: volume +12.5 dB, through the sound mapper, through the system mixer (wave-out)"},
      {{16, false, 2}, {16, false, 2}, D, 0, false, nullptr, "Not bit-exact: through the system mixer (wave-out)"},
      {{24, false, 6}, {16, false, 2}, D, -5, true, "mp3",
       "Not bit-exact: decoded from mp3 (lossy), rendered to 16 bits, volume -0.5 dB, 24 → 16 bits (cut), "
       "6 → 2 channels (dropped), through the system mixer (wave-out)"},
  };
  for (const auto& row : rows) {
    SignalPath path;
    path.file = row.file;
    path.device = row.device;
    path.route = row.route;
    path.volumeX10 = row.volume;
    path.rexRender = row.rex;
    path.converted = path.lossy = row.lossyCodec != nullptr;
    std::strcpy(path.codec, row.lossyCodec ? row.lossyCodec : "");
    char text[512];
    FormatVerdict(text, sizeof text, path);
    EXPECT_EQ(text, row.verdict);
    EXPECT_EQ(IsBitExact(path), row.verdict == kExact) << row.verdict;
    FormatVerdict(text, 20, path);
    EXPECT_EQ(text, row.verdict.substr(0, 19)) << "cut to the buffer, terminated";
  }
}

TEST(SignalPathVerdict, ConvertedSourcesAreLossyByTheirExtension) {
  const struct {
    const char *extension, *codec;
    bool lossy;
  } cases[] = {{".MP3", "mp3", true}, {".m4a", "m4a", true}, {".ac3", "ac3", true}, {".wma", "wma", true},
               {".mka", "mka", false}, {".mp3extra", "mp3e", false}};
  for (const auto& c : cases) {
    char codec[5];
    bool lossy = !c.lossy;
    CodecOfExtension(c.extension, codec, sizeof codec, &lossy);
    EXPECT_STREQ(codec, c.codec);
    EXPECT_EQ(lossy, c.lossy) << c.extension;
  }
}

}  // namespace
