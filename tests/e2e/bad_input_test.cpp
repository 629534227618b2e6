// Input the player must refuse, typed into the real window: each refusal shows its
// message, the window keeps answering and plays a good file afterwards, and no
// temporary file is left behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_fixture.h"

namespace e2e {
namespace {

constexpr char kNotGeneric[] = "The file is not a generic WAV file.";
constexpr char kCannotOpen[] = "Unable to open the WAVE file.";
constexpr char kReadError[] = "File reading error on the WAVE file.";
// What the file-name box may hold: 259 characters and the terminator.
constexpr size_t kLongestPath = 259;

struct BadInput {
  const char* what;
  std::string path;  // as typed into the file-name box
  const char* message;
  const char* status;  // the status line after the refusal, or null for any
};

wavebytes::Bytes TruncatedInsideFormat() {
  const wavebytes::Bytes whole = ToneWave(Encoding{16}, 2, kSinkRate, 440, 0.5, 0.5);
  return wavebytes::Bytes(whole.begin(), whole.begin() + 30);  // ends inside the `fmt ` body
}

// A WAVE whose `data` chunk claims more than the file holds: it starts, and the
// read that runs out ends it with the reading error.
wavebytes::Bytes DataCutShort() {
  const wavebytes::Bytes whole = ToneWave(Encoding{16}, 2, kSinkRate, 440, 0.5, 0.5);
  return wavebytes::Bytes(whole.begin(), whole.begin() + 44 + 4 * 11025);
}

class BadInputTest : public EndToEnd {};

TEST_F(BadInputTest, EachRefusalShowsItsMessageLeavesNoTemporaryFileAndTheWindowPlaysOn) {
  const std::string text = "This is a plain text file, not a sound.\r\n";
  // A 259-character path to a real file, and the same path with more after it: a
  // player that cut the text instead of refusing it would play the shorter one.
  std::string shortPart = dir_.Path() + "\\";
  shortPart += std::string(kLongestPath - shortPart.size() - 4, 'p') + ".wav";
  const wavebytes::Bytes good = ToneWave(Encoding{16}, 2, kSinkRate, 440, 0.5, 0.5);
  dir_.Write(shortPart.substr(dir_.Path().size() + 1), good);
  const std::string overlong = shortPart + std::string(300 - kLongestPath, 'x');
  ASSERT_EQ(overlong.size(), 300u);

  const std::vector<BadInput> inputs = {
      {"a text file named .wav", dir_.Write("text.wav", wavebytes::Bytes(text.begin(), text.end())), kNotGeneric,
       nullptr},
      {"a WAVE cut inside its format", dir_.Write("cut.wav", TruncatedInsideFormat()), kNotGeneric, nullptr},
      {"an empty file", dir_.Write("empty.wav", {}), kNotGeneric, nullptr},
      {"a missing file", dir_.Path() + "\\absent.wav", kCannotOpen, nullptr},
      {"a path of 300 characters", overlong, kCannotOpen, nullptr},
      {"an .mp3 without the converter", dir_.Write("song.mp3", wavebytes::Bytes(text.begin(), text.end())),
       kNotGeneric, "Conversion failed."},
      {"a WAVE whose data runs out", dir_.Write("short.wav", DataCutShort()), kReadError, nullptr},
  };
  const std::string goodPath = dir_.Write("good.wav", good);

  PlayerProcess player;
  ASSERT_NE(player.Window(), nullptr);
  for (const BadInput& input : inputs) {
    SCOPED_TRACE(input.what);
    player.Play(input.path);
    const MessageBoxSeen box = player.WaitForMessageBox(kPlayWaitMs);
    ASSERT_NE(box.window, nullptr) << "no message";
    EXPECT_EQ(box.caption, kCaption);
    EXPECT_EQ(box.text, input.message);
    if (input.status) {
      EXPECT_EQ(player.Text(IDC_STATUS), input.status);
    }
    player.Dismiss(box);
    EXPECT_TRUE(player.Responsive());
    EXPECT_FALSE(player.Playing());
    EXPECT_TRUE(TempLeftovers().empty()) << TempLeftovers().front();
  }

  player.Play(goodPath);
  EXPECT_TRUE(WaitUntil([&] { return player.Playing(); }, kPlayWaitMs)) << "the window plays on after the refusals";
  EXPECT_EQ(player.Title(), "good.wav - ZEMBRIX Player(x86)");
  EXPECT_TRUE(player.Close());
  EXPECT_EQ(player.ExitCode(), 0u);
  EXPECT_TRUE(TempLeftovers().empty());
}

}  // namespace
}  // namespace e2e
