// The dialog's routing of the feeder's notices, the detail area, the waveform's
// menu command and the focus rule, driven with window messages under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>

#include "engine/feeder.h"
#include "settings/settings.h"
#include "window/player_dialog.h"
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

// Wheel messages arriving at one window of the dialog's thread, sent or posted.
std::atomic<HWND> g_wheelTarget{nullptr};
std::atomic<int> g_wheelsSeen{0};
void CountWheel(HWND window, UINT message) {
  if (message == WM_MOUSEWHEEL && window == g_wheelTarget.load()) ++g_wheelsSeen;
}
LRESULT CALLBACK CountSentWheels(int code, WPARAM wParam, LPARAM lParam) {
  const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION) CountWheel(sent->hwnd, sent->message);
  return CallNextHookEx(nullptr, code, wParam, lParam);
}
LRESULT CALLBACK CountPostedWheels(int code, WPARAM wParam, LPARAM lParam) {
  const auto* posted = reinterpret_cast<const MSG*>(lParam);
  if (code == HC_ACTION && wParam == PM_REMOVE) CountWheel(posted->hwnd, posted->message);
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool FailToStart(PlayerSession&) { return false; }

uint32_t StoredNumber(const char* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueA(HKEY_CURRENT_USER, "SOFTWARE\\ZEMBRIXPlayer\\WaveOutSettings", name, RRF_RT_REG_DWORD, nullptr,
                   &value, &size) != ERROR_SUCCESS) {
    return 0xFFFFFFFF;
  }
  return value;
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
    DWORD waitSeconds;    // for a device that went away
    std::string caption;  // empty: no box; the player waits for the device, here still there
    std::string text;
  } const cases[] = {
      {MSG_FEEDER_READ_ERROR, 0, 60, kCaption, "File reading error on the WAVE file."},
      {MSG_FEEDER_WRITE_ERROR, MMSYSERR_NOMEM, 60, "waveOutWrite()", SystemText(MMSYSERR_NOMEM)},
      {MSG_FEEDER_WRITE_ERROR, 1234, 60, "waveOutWrite()", "MMSYSERROR(1234)"},
      {MSG_FEEDER_DEVICE_STALLED, 1500, 0, kCaption, std::string("The output device '") + device + "' stopped responding."},
      {MSG_FEEDER_WRITE_ERROR, MMSYSERR_NODRIVER, 0, kCaption,
       std::string("The output device '") + device + "' stopped responding."},
      {MSG_FEEDER_DEVICE_STALLED, 1500, 60, "", ""},
      {MSG_FEEDER_WRITE_ERROR, MMSYSERR_NODRIVER, 60, "", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.message) + " " + std::to_string(c.code) + " wait " + std::to_string(c.waitSeconds));
    ASSERT_TRUE(StoreDeviceWaitSeconds(c.waitSeconds));
    ASSERT_TRUE(d.Start(path_));
    d.ClearStatuses();
    PostMessageA(d.Window(), c.message, 0, c.code);
    if (c.caption.empty()) {
      const std::string waiting = std::string("Waiting for '") + device + "' to come back; Stop gives up";
      ASSERT_TRUE(PlayerDialog::WaitUntil([&] {
        const std::vector<std::string> seen = d.Statuses();
        return std::find(seen.begin(), seen.end(), waiting) != seen.end();
      }, 5000)) << waiting;
      ASSERT_TRUE(PlayerDialog::WaitUntil([&] {
        ScopedLock lock(d.Session().lock);
        return d.Session().output != nullptr;
      }, 5000)) << "the device, still there, is opened again";
      EXPECT_TRUE(d.Playing());
      EXPECT_FALSE(d.AnyMessageBox());
      d.Command(IDC_STOP);
      continue;
    }
    ASSERT_TRUE(PlayerDialog::WaitUntil([&] { return d.AnyMessageBox(); }, 10000));
    EXPECT_FALSE(d.Playing()) << "stopped before the box appeared";
    const MessageBoxSeen box = d.TakeMessageBox();
    EXPECT_EQ(box.caption, c.caption);
    EXPECT_EQ(box.text, c.text);
    Sleep(300);
    EXPECT_FALSE(d.Playing()) << "sequential play did not go on";
    ScopedLock lock(d.Session().lock);
    EXPECT_EQ(d.Session().output, nullptr);
    EXPECT_EQ(d.Session().sourceFile, nullptr);
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
  const auto visible = [&](int id) { return IsWindowVisible(GetDlgItem(d.Window(), id)) != FALSE; };
  EXPECT_FALSE(visible(IDC_STATUS) || visible(IDC_DETAIL) || visible(IDC_SIGNAL_PATH))
      << "below the edge, hidden: they do not draw";
  d.Command(IDM_SHOW_DETAILS);
  EXPECT_TRUE(visible(IDC_STATUS) && visible(IDC_DETAIL) && visible(IDC_SIGNAL_PATH));
  const int shown = Height(d.Window());
  EXPECT_GT(shown, collapsed);
  RECT client, status, last;
  GetClientRect(d.Window(), &client);
  GetWindowRect(GetDlgItem(d.Window(), IDC_STATUS), &status);
  GetWindowRect(GetDlgItem(d.Window(), IDC_SIGNAL_PATH), &last);
  MapWindowPoints(nullptr, d.Window(), reinterpret_cast<POINT*>(&status), 2);
  MapWindowPoints(nullptr, d.Window(), reinterpret_cast<POINT*>(&last), 2);
  EXPECT_EQ(client.bottom, last.bottom + (status.bottom - status.top) / 8)
      << "an eighth of the status line below the area's last line, the signal path";
  EXPECT_TRUE(d.Enabled(IDC_BUFFER_LENGTH));
  EXPECT_TRUE(d.Enabled(IDC_BUFFER_COUNT));
  d.Command(IDM_SHOW_DETAILS);
  EXPECT_EQ(Height(d.Window()), collapsed) << "twice returns to the former height";
  EXPECT_FALSE(d.Enabled(IDC_BUFFER_LENGTH));
  EXPECT_FALSE(visible(IDC_STATUS) || visible(IDC_DETAIL));
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

// The box hands a wheel with Ctrl or Shift back to its parent; forwarded again, it
// circled between the two for as long as the window lived.
TEST_F(MainDialogTest, WheelMessagesWithAnyModifierLeaveTheWindowIdle) {
  struct Case {
    const char* what;
    WORD keys;
    int atBox;  // the plain wheel goes on to the file-name box
  } const cases[] = {
      {"plain", 0, 1},
      {"Ctrl", MK_CONTROL, 0},
      {"Shift", MK_SHIFT, 0},
      {"Ctrl+Shift", MK_CONTROL | MK_SHIFT, 0},
  };
  PlayerDialog d;
  const DWORD thread = GetWindowThreadProcessId(d.Window(), nullptr);
  HHOOK sent = SetWindowsHookExA(WH_CALLWNDPROC, CountSentWheels, nullptr, thread);
  HHOOK posted = SetWindowsHookExA(WH_GETMESSAGE, CountPostedWheels, nullptr, thread);
  for (const Case& c : cases) {
    for (HWND target : {d.Window(), GetDlgItem(d.Window(), IDC_FILE_NAME)}) {
      g_wheelTarget = target;
      g_wheelsSeen = 0;
      PostMessageA(d.Window(), WM_MOUSEWHEEL, MAKEWPARAM(c.keys, static_cast<WORD>(-WHEEL_DELTA)),
                   MAKELPARAM(100, 100));
      Sleep(1000);
      EXPECT_EQ(g_wheelsSeen.load(), target == d.Window() ? 1 : c.atBox) << c.what << (target == d.Window() ? " at the window" : " at the box");
    }
  }
  g_wheelTarget = nullptr;
  UnhookWindowsHookEx(sent);
  UnhookWindowsHookEx(posted);
}

// At 1000 and above the spin wrote "1,000" into its field, which read back as 1.
TEST_F(MainDialogTest, BufferSpinsSetValuesThatReadBackAndAreStoredAsThemselves) {
  struct Case {
    int spin;
    int field;
    const char* valueName;
    uint32_t value;
  } const cases[] = {
      {IDC_BUFFER_LENGTH_SPIN, IDC_BUFFER_LENGTH, "EachBufferLength", 1000},
      {IDC_BUFFER_LENGTH_SPIN, IDC_BUFFER_LENGTH, "EachBufferLength", 9999},
      {IDC_BUFFER_LENGTH_SPIN, IDC_BUFFER_LENGTH, "EachBufferLength", 32767},
      {IDC_BUFFER_COUNT_SPIN, IDC_BUFFER_COUNT, "NumberOfBuffers", 99},
  };
  PlayerDialog d;
  for (const Case& c : cases) {
    SendDlgItemMessageA(d.Window(), c.spin, UDM_SETPOS32, 0, static_cast<LPARAM>(c.value));
    EXPECT_EQ(d.Text(c.field), std::to_string(c.value));
    BOOL isNumber = FALSE;
    EXPECT_EQ(GetDlgItemInt(d.Window(), c.field, &isNumber, FALSE), c.value);
    EXPECT_TRUE(isNumber) << c.value;
    SaveSettings(d.Window());
    EXPECT_EQ(StoredNumber(c.valueName), c.value) << c.valueName;
  }
}

// A window that gives up while it starts saved its empty controls over the settings.
TEST_F(MainDialogTest, AWindowWhoseFeederCannotStartLeavesTheSavedSettingsAlone) {
  PlayerDialog::ForgetSettings();
  PlayerDialog stored;
  SetDlgItemInt(stored.Window(), IDC_BUFFER_LENGTH, 250, FALSE);
  SetDlgItemInt(stored.Window(), IDC_BUFFER_COUNT, 12, FALSE);
  SaveSettings(stored.Window());
  DialogOptions options;
  options.startFeeder = FailToStart;
  options.keepSettings = true;
  {
    PlayerDialog failed(options);
    const MessageBoxSeen box = failed.TakeMessageBox();
    EXPECT_EQ(box.caption, kCaption);
    EXPECT_EQ(box.text, "Unable to initialize the some Windows objects.");
    EXPECT_TRUE(PlayerDialog::WaitUntil([&] { return failed.Ended(); }, 10000));
    EXPECT_EQ(failed.Result(), 2);
  }
  EXPECT_EQ(StoredNumber("EachBufferLength"), 250u);
  EXPECT_EQ(StoredNumber("NumberOfBuffers"), 12u);
}

// Wine's track bar placed the thumb for 0 of its default range 0 to 100, the left
// end, when the range changed and the position did not.
TEST_F(MainDialogTest, TheVolumeThumbStandsAtZeroDecibelsAtStart) {
  PlayerDialog d;
  HWND slider = GetDlgItem(d.Window(), IDC_VOLUME);
  ASSERT_EQ(SendMessageA(slider, TBM_GETPOS, 0, 0), 0);
  RECT thumb{}, channel{};
  SendMessageA(slider, TBM_GETTHUMBRECT, 0, reinterpret_cast<LPARAM>(&thumb));
  SendMessageA(slider, TBM_GETCHANNELRECT, 0, reinterpret_cast<LPARAM>(&channel));
  const int travel = (channel.right - channel.left) - (thumb.right - thumb.left);
  ASSERT_GT(travel, 0);
  // 0 lies 480 of the 600 steps from the left end.
  const int expectedLeft = channel.left + travel * 480 / 600;
  EXPECT_NEAR(thumb.left, expectedLeft, 2) << "channel " << channel.left << ".." << channel.right;
}

// Every label is drawn whole in its control with the dialog's font (a check box's
// text beside its box): a substitute font wider than the template's cut labels.
TEST_F(MainDialogTest, EveryLabelFitsItsControl) {
  PlayerDialog d;
  HDC dc = GetDC(d.Window());
  const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(d.Window(), WM_GETFONT, 0, 0)));
  const int box = GetSystemMetrics(SM_CXMENUCHECK) + 2 * GetSystemMetrics(SM_CXEDGE);
  for (const char* label : {"L&oop play", "Se&quential", "T&empo", "bpm", "&Output:", "&Volume", "Buffer &length:",
                            "&Numer of Buffers:", "ms"}) {
    HWND control = FindWindowExA(d.Window(), nullptr, nullptr, label);
    ASSERT_NE(control, nullptr) << label;
    std::string shown = label;
    shown.erase(std::remove(shown.begin(), shown.end(), '&'), shown.end());
    SIZE text{};
    GetTextExtentPoint32A(dc, shown.c_str(), static_cast<int>(shown.size()), &text);
    RECT client{};
    GetClientRect(control, &client);
    const bool checkBox = (GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK) == BS_AUTOCHECKBOX;
    EXPECT_LE(text.cx + (checkBox ? box : 0), client.right) << shown;
  }
  SelectObject(dc, old);
  ReleaseDC(d.Window(), dc);
}

}  // namespace
