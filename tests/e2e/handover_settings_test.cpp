// Start-up as a user meets it: a second start hands its file to the running player
// and ends with 0, and the window's settings survive a restart through the registry.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/e2e_fixture.h"

namespace e2e {
namespace {

class StartUpTest : public EndToEnd {};

TEST_F(StartUpTest, ASecondStartHandsItsFileToTheRunningPlayerAndEndsWithZero) {
  const std::string folder = dir_.Path() + "\\path with blank";
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  const std::string a = folder + "\\a.wav";
  const std::string b = folder + "\\b.wav";
  const wavebytes::Bytes wave = ToneWave(Encoding{16}, 2, kSinkRate, 440, 0.5, 4.0);
  for (const std::string& path : {a, b}) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, wave.data(), static_cast<DWORD>(wave.size()), &written, nullptr);
    CloseHandle(file);
  }
  {
    PlayerProcess first("\"" + a + "\"");
    ASSERT_NE(first.Window(), nullptr);
    ASSERT_TRUE(WaitUntil([&] { return first.Playing(); }, kPlayWaitMs)) << "the command line's file plays";
    EXPECT_EQ(first.Title(), "a.wav - ZEMBRIX Player(x86)");

    PlayerProcess second("\"" + b + "\"", false);
    ASSERT_EQ(WaitForSingleObject(second.Process(), kPlayWaitMs), WAIT_OBJECT_0) << "the second start ends";
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_TRUE(WaitUntil([&] { return first.Title() == "b.wav - ZEMBRIX Player(x86)"; }, kPlayWaitMs))
        << first.Title();
    EXPECT_TRUE(WaitUntil([&] { return first.Playing(); }, kPlayWaitMs)) << first.Text(IDC_STATUS);
    const std::vector<std::string> history = first.History();
    ASSERT_FALSE(history.empty());
    EXPECT_EQ(history[0], b) << "the handed-over file tops the history";
    EXPECT_TRUE(first.Close());
    EXPECT_EQ(first.ExitCode(), 0u);
  }
  DeleteFileA(a.c_str());
  DeleteFileA(b.c_str());
  RemoveDirectoryA(folder.c_str());
}

TEST_F(StartUpTest, TheWindowsSettingsSurviveARestart) {
  const std::string path = dir_.Write("kept.wav", ToneWave(Encoding{16}, 2, kSinkRate, 440, 0.5, 0.5));
  {
    PlayerProcess player;
    ASSERT_NE(player.Window(), nullptr);
    player.SetVolume(-125);
    ASSERT_TRUE(WaitUntil([&] { return player.Text(IDC_VOLUME_TEXT) == "-12.5dB"; }, 5000));
    player.SetCheck(IDC_SEQUENTIAL, true);
    player.Play(path);
    ASSERT_TRUE(WaitUntil([&] { return player.Playing(); }, kPlayWaitMs));
    ASSERT_TRUE(WaitUntil([&] { return !player.Playing(); }, kPlayWaitMs));
    player.SetCheck(IDC_SEQUENTIAL, false);
    player.SetCheck(IDC_LOOP, true);
    ASSERT_TRUE(WaitUntil([&] { return player.Checked(IDC_LOOP); }, 5000));
    EXPECT_TRUE(player.Close());
  }
  PlayerProcess again;
  ASSERT_NE(again.Window(), nullptr);
  EXPECT_EQ(again.Text(IDC_VOLUME_TEXT), "-12.5dB");
  EXPECT_TRUE(again.Checked(IDC_LOOP));
  EXPECT_FALSE(again.Checked(IDC_SEQUENTIAL));
  const std::vector<std::string> history = again.History();
  ASSERT_FALSE(history.empty());
  EXPECT_EQ(history[0], path);
}

}  // namespace
}  // namespace e2e
