// The dialog's routing of the feeder's notices, the detail area, the waveform's
// menu command and the focus rule, driven with window messages under Wine.
#include <gtest/gtest.h>

#include <string>

#include "engine/feeder.h"
#include "player/player_dialog.h"
#include "support/temp_dir.h"

using namespace playertest;

namespace {

constexpr char kCaption[] = "ZEMBRIX Player(x86)";
constexpr uint32_t kRate = 44100;

std::string SystemText(uint32_t code) {
  char text[256] = "";
  return waveOutGetErrorTextA(code, text, sizeof text) == MMSYSERR_NOERROR ? text : "";
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
  return info.hwndFocus;
}

int Height(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  return r.bottom - r.top;
}

class MainDialogTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string path_ = dir_.Write("twenty.wav", NoiseWave(20 * kRate, 11));
};

TEST_F(MainDialogTest, FeederErrorsStopPlaybackBeforeTheirMessage) {
  ASSERT_FALSE(SystemText(MMSYSERR_NOMEM).empty()) << "the system names this code";
  PlayerDialog d;
  // The device entry as the box's narrow text gives it.
  char device[256] = "";
  const LRESULT selected = SendDlgItemMessageA(d.Window(), IDC_DEVICE, CB_GETCURSEL, 0, 0);
  ASSERT_NE(selected, CB_ERR);
  SendDlgItemMessageA(d.Window(), IDC_DEVICE, CB_GETLBTEXT, selected, reinterpret_cast<LPARAM>(device));
  ASSERT_NE(device[0], '\0');
  // Sequential play with a second entry: none of these stops may move on to it.
  HWND box = GetDlgItem(d.Window(), IDC_FILE_NAME);
  SendMessageA(box, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(dir_.Write("next.wav", NoiseWave(kRate, 3)).c_str()));
  d.Check(IDC_SEQUENTIAL, true);
  struct Case {
    UINT message;
    LPARAM code;
    std::string caption;
    std::string text;
  } const cases[] = {
      {MSG_FEEDER_READ_ERROR, 0, kCaption, "File reading error on the WAVE file."},
      {MSG_FEEDER_WRITE_ERROR, MMSYSERR_NOMEM, "waveOutWrite()", SystemText(MMSYSERR_NOMEM)},
      {MSG_FEEDER_WRITE_ERROR, 1234, "waveOutWrite()", "MMSYSERROR(1234)"},
      {MSG_FEEDER_DEVICE_STALLED, 1500, kCaption,
       std::string("The output device '") + device + "' stopped responding."},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(d.Start(path_)) << c.message;
    PostMessageA(d.Window(), c.message, 0, c.code);
    ASSERT_TRUE(PlayerDialog::WaitUntil([&] { return d.AnyMessageBox(); }, 10000)) << c.message;
    EXPECT_FALSE(d.Playing()) << "stopped before the box appeared: " << c.message;
    const MessageBoxSeen box = d.TakeMessageBox();
    EXPECT_EQ(box.caption, c.caption) << c.message;
    EXPECT_EQ(box.text, c.text) << c.message;
    Sleep(300);
    EXPECT_FALSE(d.Playing()) << "sequential play did not go on: " << c.message;
    ScopedLock lock(d.Session().lock);
    EXPECT_EQ(d.Session().output, nullptr) << c.message;
    EXPECT_EQ(d.Session().sourceFile, nullptr) << c.message;
  }
}

TEST_F(MainDialogTest, TheEndNoticeStopsPlaybackAfterItsDelay) {
  PlayerDialog d;
  ASSERT_TRUE(d.Start(path_));
  PostMessageA(d.Window(), MSG_FEEDER_END, 50, 0);
  EXPECT_TRUE(PlayerDialog::WaitUntil([&] { return !d.Playing(); }, 10000)) << "the end-of-play timer stopped it";
  EXPECT_EQ(d.Statuses().back(), "waveOutClose() is OK");
}

TEST_F(MainDialogTest, DetailsToggleTheHeightAndTheBufferFields) {
  PlayerDialog d;
  const int collapsed = Height(d.Window());
  EXPECT_FALSE(d.Enabled(IDC_BUFFER_LENGTH)) << "hidden at start";
  EXPECT_FALSE(d.Enabled(IDC_BUFFER_COUNT));
  d.Command(IDM_SHOW_DETAILS);
  const int shown = Height(d.Window());
  EXPECT_GT(shown, collapsed);
  RECT client, status;
  GetClientRect(d.Window(), &client);
  GetWindowRect(GetDlgItem(d.Window(), IDC_STATUS), &status);
  MapWindowPoints(nullptr, d.Window(), reinterpret_cast<POINT*>(&status), 2);
  EXPECT_EQ(client.bottom, status.bottom + (status.bottom - status.top) / 8) << "an eighth of the status line below it";
  EXPECT_TRUE(d.Enabled(IDC_BUFFER_LENGTH));
  EXPECT_TRUE(d.Enabled(IDC_BUFFER_COUNT));
  d.Command(IDM_SHOW_DETAILS);
  EXPECT_EQ(Height(d.Window()), collapsed) << "twice returns to the former height";
  EXPECT_FALSE(d.Enabled(IDC_BUFFER_LENGTH));
}

TEST_F(MainDialogTest, TheWaveformMenuCommandTogglesTheHiddenBoxAClickDoesNot) {
  PlayerDialog d;
  const auto checked = [&] { return IsDlgButtonChecked(d.Window(), IDC_LINEAR_RMS) == BST_CHECKED; };
  const bool start = checked();
  SendMessageA(d.Window(), WM_COMMAND, MAKEWPARAM(IDC_LINEAR_RMS, 0), 0);  // from the menu
  EXPECT_NE(checked(), start);
  SendMessageA(d.Window(), WM_COMMAND, MAKEWPARAM(IDC_LINEAR_RMS, 0), 0);
  EXPECT_EQ(checked(), start);
  d.Command(IDC_LINEAR_RMS);  // from the box itself, which has already toggled
  EXPECT_EQ(checked(), start);
}

TEST_F(MainDialogTest, AControlDisabledWithTheFocusHandsItToTheNextInTabOrder) {
  PlayerDialog d;
  ASSERT_TRUE(d.Start(path_));
  HWND pause = GetDlgItem(d.Window(), IDC_PAUSE);
  SendMessageA(d.Window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(pause), TRUE);
  ASSERT_EQ(FocusOf(d.Window()), pause);
  d.Command(IDC_STOP);
  EXPECT_FALSE(d.Enabled(IDC_PAUSE));
  EXPECT_EQ(FocusOf(d.Window()), GetDlgItem(d.Window(), IDC_LOOP)) << "the next enabled control after Pause";
}

TEST_F(MainDialogTest, TheTempoBoxEnablesItsFieldAndAStopEnablesBoth) {
  PlayerDialog d;
  d.Check(IDC_TEMPO_CHECK, false);
  EXPECT_FALSE(d.Enabled(IDC_TEMPO));
  d.Check(IDC_TEMPO_CHECK, true);
  EXPECT_TRUE(d.Enabled(IDC_TEMPO));
  d.Check(IDC_TEMPO_CHECK, false);
  ASSERT_TRUE(d.Start(path_));
  EXPECT_FALSE(d.Enabled(IDC_TEMPO_CHECK));
  d.Command(IDC_STOP);
  EXPECT_TRUE(d.Enabled(IDC_TEMPO_CHECK));
  EXPECT_TRUE(d.Enabled(IDC_TEMPO)) << "enabled after a stop even with the box unchecked";
}

BOOL CALLBACK MatchMenuWindow(HWND window, LPARAM found) {
  char name[16] = "";
  GetClassNameA(window, name, sizeof name);
  if (lstrcmpA(name, "#32768") != 0 || !IsWindowVisible(window)) return TRUE;
  *reinterpret_cast<HWND*>(found) = window;
  return FALSE;
}

// The popup menu window the dialog's thread shows, or null.
HWND FindMenuWindow(HWND dialog) {
  HWND found = nullptr;
  EnumThreadWindows(GetWindowThreadProcessId(dialog, nullptr), MatchMenuWindow, reinterpret_cast<LPARAM>(&found));
  return found;
}

TEST_F(MainDialogTest, ContextMenusAppearWhereAskedWithTheirChecks) {
  PlayerDialog d;
  RECT frame, display;
  GetWindowRect(d.Window(), &frame);
  GetWindowRect(GetDlgItem(d.Window(), IDC_WAVEFORM), &display);
  const POINT onDisplay{(display.left + display.right) / 2, (display.top + display.bottom) / 2};
  const bool rmsChecked = IsDlgButtonChecked(d.Window(), IDC_LINEAR_RMS) == BST_CHECKED;
  struct Case {
    const char* what;
    LPARAM at;
    POINT expected;
    UINT item;
    bool checked;
  } const cases[] = {
      {"keyboard", MAKELPARAM(-1, -1), {frame.left + 16, frame.top + 16}, IDM_SHOW_DETAILS, false},
      {"on the waveform", MAKELPARAM(onDisplay.x, onDisplay.y), onDisplay, IDC_LINEAR_RMS, rmsChecked},
  };
  for (const Case& c : cases) {
    PostMessageA(d.Window(), WM_CONTEXTMENU, reinterpret_cast<WPARAM>(d.Window()), c.at);
    HWND menu = nullptr;
    ASSERT_TRUE(PlayerDialog::WaitUntil([&] { return (menu = FindMenuWindow(d.Window())) != nullptr; }, 10000))
        << c.what;
    RECT placed;
    GetWindowRect(menu, &placed);
    EXPECT_EQ(placed.left, c.expected.x) << c.what;
    EXPECT_EQ(placed.top, c.expected.y) << c.what;
    HMENU items = reinterpret_cast<HMENU>(SendMessageA(menu, MN_GETHMENU, 0, 0));
    const UINT state = GetMenuState(items, c.item, MF_BYCOMMAND);
    ASSERT_NE(state, static_cast<UINT>(-1)) << c.what << ": the item is in this menu";
    EXPECT_EQ((state & MF_CHECKED) != 0, c.checked) << c.what;
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(PlayerDialog::WaitUntil([&] { return FindMenuWindow(d.Window()) == nullptr; }, 10000)) << c.what;
  }
}

}  // namespace
