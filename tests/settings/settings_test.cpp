// The settings against the real registry of the test prefix: the product key is
// removed before and after each case, values of every kind are stored by hand, and
// the controls of the main window's template are read back. The device box is filled
// through the settings module's own FillOutputDeviceList, named in full.
#include "settings/settings.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/player_dialog.h"

namespace {

constexpr char kProductKey[] = "SOFTWARE\\ZEMBRIXPlayer";
using Bytes = std::vector<uint8_t>;

std::string KeyPath(const char* subKey) { return std::string(kProductKey) + "\\" + subKey; }

// Stores the first `count` bytes of `data` (all when count is -1). A byte beyond them
// keeps the registry from counting a terminator the caller left out.
void Store(const char* subKey, const char* name, DWORD type, const Bytes& data, int count = -1) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, KeyPath(subKey).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                            nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, type, data.data(), static_cast<DWORD>(count < 0 ? data.size() : count));
  RegCloseKey(key);
}
void StoreNumber(const char* subKey, const char* name, uint32_t n) {
  Store(subKey, name, REG_DWORD, Bytes{uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)});
}
void StoreText(const char* subKey, const char* name, const std::string& text) {
  Store(subKey, name, REG_SZ, Bytes(text.c_str(), text.c_str() + text.size() + 1));
}

struct Stored {
  bool present = false;
  DWORD type = 0;
  Bytes data;
};
Stored Load(const char* subKey, const char* name) {
  Stored s;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, KeyPath(subKey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return s;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &s.type, nullptr, &size) == ERROR_SUCCESS) {
    s.data.resize(size);
    s.present = RegQueryValueExA(key, name, nullptr, &s.type, s.data.data(), &size) == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return s;
}
uint32_t LoadNumber(const char* subKey, const char* name) {
  const Stored s = Load(subKey, name);
  EXPECT_EQ(s.type, static_cast<DWORD>(REG_DWORD)) << name;
  uint32_t n = 0;
  if (s.data.size() == 4) std::memcpy(&n, s.data.data(), 4);
  return n;
}
std::string LoadText(const char* subKey, const char* name) {
  const Stored s = Load(subKey, name);
  EXPECT_TRUE(s.present) << name;
  EXPECT_EQ(s.type, static_cast<DWORD>(REG_SZ)) << name;
  return s.data.empty() ? std::string("<none>") : std::string(reinterpret_cast<const char*>(s.data.data()));
}

bool ProductKeyExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeA(HKEY_CURRENT_USER, kProductKey); }
  void TearDown() override { RegDeleteTreeA(HKEY_CURRENT_USER, kProductKey); }
};

bool Checked(HWND window, int id) { return IsDlgButtonChecked(window, id) == BST_CHECKED; }
int Volume(HWND window) { return static_cast<int>(SendDlgItemMessageA(window, IDC_VOLUME, TBM_GETPOS, 0, 0)); }

TEST_F(SettingsTest, ReadStringSettingKeepsOnlyTextsThatFit) {
  const std::string text259(259, 'a');
  const std::string text260(260, 'b');
  struct Case {
    const char* what;
    bool store;
    DWORD type;
    Bytes data;
    int count;
    uint32_t capacity;
    std::string expected;
  };
  const Bytes unterminated260(261, 'u');  // 260 registered, the last one only guards
  const Case cases[] = {
      {"no value", false, REG_SZ, {}, -1, 260, ""},
      {"a short text", true, REG_SZ, {'a', 'b', 'c', 0}, -1, 260, "abc"},
      {"zero bytes", true, REG_SZ, {}, -1, 260, ""},
      {"259 characters fill the buffer with the terminator", true, REG_SZ,
       Bytes(text259.c_str(), text259.c_str() + 260), -1, 260, text259},
      {"260 characters and the terminator do not fit", true, REG_SZ, Bytes(text260.c_str(), text260.c_str() + 261),
       -1, 260, ""},
      {"a text without terminator", true, REG_SZ, {'x', 'y', 'z', 'Q'}, 3, 260, "xyz"},
      {"a text without terminator that fills the buffer exactly", true, REG_SZ, unterminated260, 260, 260, ""},
      {"binary data without terminator that fills the buffer exactly", true, REG_BINARY, unterminated260, 260, 260,
       ""},
      {"binary data without terminator, shorter", true, REG_BINARY, {'b', 'i', 'n'}, -1, 260, "bin"},
      {"the type is not examined", true, REG_BINARY, {'b', 'i', 'n', 0}, -1, 260, "bin"},
      {"a device name within 128 bytes", true, REG_SZ, {'N', 'u', 'l', 'l', 0}, -1, 128, "Null"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RegDeleteTreeA(HKEY_CURRENT_USER, kProductKey);
    if (c.store) Store("WaveFileMRL", "Current", c.type, c.data, c.count);
    // Guard bytes after the buffer: a read past its end would find no terminator soon.
    std::vector<char> memory(c.capacity + 64, 'G');
    const uint32_t length = ReadStringSetting(memory.data(), c.capacity, "Current", "WaveFileMRL");
    ASSERT_LT(length, c.capacity);
    EXPECT_EQ(std::string(memory.data(), length), c.expected);
    EXPECT_EQ(memory[length], '\0');
    EXPECT_EQ(memory[c.capacity], 'G') << "nothing written past the buffer";
  }
  char buffer[16] = "stale";
  EXPECT_EQ(ReadStringSetting(buffer, sizeof buffer, "Current", "NoSuchKey"), 0u);
  EXPECT_STREQ(buffer, "");
}

TEST_F(SettingsTest, NoProductKeyGivesTheDefaultsAndWritesNothing) {
  PlayerDialog dialog;
  HWND w = dialog.Window();
  RECT before;
  GetWindowRect(w, &before);
  LoadSettings(w);
  settings::FillOutputDeviceList(w);
  RECT after;
  GetWindowRect(w, &after);
  EXPECT_EQ(after.left, before.left);
  EXPECT_EQ(after.top, before.top);
  EXPECT_EQ(dialog.Text(), "");
  EXPECT_TRUE(dialog.History().empty());
  EXPECT_EQ(dialog.TextOf(IDC_BUFFER_COUNT), "4");
  EXPECT_EQ(dialog.TextOf(IDC_BUFFER_LENGTH), "100");
  EXPECT_EQ(dialog.TextOf(IDC_TEMPO), "120");
  for (int id : {IDC_MAPPED, IDC_LOOP, IDC_SEQUENTIAL, IDC_TEMPO_CHECK}) EXPECT_FALSE(Checked(w, id)) << id;
  EXPECT_TRUE(Checked(w, IDC_LINEAR_RMS));
  EXPECT_FALSE(IsWindowEnabled(GetDlgItem(w, IDC_TEMPO)));
  EXPECT_EQ(Volume(w), 0);
  EXPECT_EQ(SendDlgItemMessageA(w, IDC_DEVICE, CB_GETCURSEL, 0, 0), 0) << "the wave mapper";
  EXPECT_FALSE(ProductKeyExists()) << "loading writes nothing";
}

TEST_F(SettingsTest, StoredNumbersAreCheckedOnTheWayIn) {
  struct Case {
    const char* name;
    DWORD type;
    Bytes data;
    int control;  // whose text or position shows it; 0: the device wait, which has no control
    std::string shown;
  };
  const Case cases[] = {
      {"NumberOfBuffers", REG_DWORD, {0, 0, 0, 0}, IDC_BUFFER_COUNT, "1"},
      {"NumberOfBuffers", REG_DWORD, {100, 0, 0, 0}, IDC_BUFFER_COUNT, "99"},
      {"NumberOfBuffers", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, IDC_BUFFER_COUNT, "99"},
      {"NumberOfBuffers", REG_DWORD, {7, 0, 0, 0}, IDC_BUFFER_COUNT, "7"},
      {"NumberOfBuffers", REG_QWORD, {7, 0, 0, 0, 0, 0, 0, 0}, IDC_BUFFER_COUNT, "4"},  // 8 bytes: ignored
      {"NumberOfBuffers", REG_SZ, {'a', 'b', 'c', 0}, IDC_BUFFER_COUNT, "99"},  // 4 bytes: taken as a number
      {"EachBufferLength", REG_DWORD, {0, 0, 0, 0}, IDC_BUFFER_LENGTH, "1"},
      {"EachBufferLength", REG_DWORD, {0x70, 0x11, 0x01, 0}, IDC_BUFFER_LENGTH, "65535"},  // 70000
      {"EachBufferLength", REG_DWORD, {0xFF, 0xFF, 0, 0}, IDC_BUFFER_LENGTH, "65535"},
      {"TempoBPM", REG_DWORD, {10, 0, 0, 0}, IDC_TEMPO, "20"},
      {"TempoBPM", REG_DWORD, {0xE8, 0x03, 0, 0}, IDC_TEMPO, "450"},  // 1000
      {"TempoBPM", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, IDC_TEMPO, "450"},
      {"TempoBPM", REG_DWORD, {90, 0, 0, 0}, IDC_TEMPO, "90"},
      {"dBVolumeX10", REG_DWORD, {0x18, 0xFC, 0xFF, 0xFF}, IDC_VOLUME, "-480"},  // -1000
      {"dBVolumeX10", REG_DWORD, {0xF4, 0x01, 0, 0}, IDC_VOLUME, "120"},         // 500
      {"dBVolumeX10", REG_DWORD, {0x9C, 0xFF, 0xFF, 0xFF}, IDC_VOLUME, "-100"},
      {"DeviceWaitSeconds", REG_DWORD, {0, 0, 0, 0}, 0, "0"},
      {"DeviceWaitSeconds", REG_DWORD, {30, 0, 0, 0}, 0, "30"},
      {"DeviceWaitSeconds", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF}, 0, "86400"},
      {"DeviceWaitSeconds", REG_QWORD, {30, 0, 0, 0, 0, 0, 0, 0}, 0, "60"},  // 8 bytes: ignored
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " shows " + c.shown);
    RegDeleteTreeA(HKEY_CURRENT_USER, kProductKey);
    Store("WaveOutSettings", c.name, c.type, c.data);
    PlayerDialog dialog;
    LoadSettings(dialog.Window());
    const std::string shown = c.control == IDC_VOLUME ? std::to_string(Volume(dialog.Window()))
                              : c.control == 0        ? std::to_string(DeviceWaitSeconds())
                                                      : dialog.TextOf(c.control);
    EXPECT_EQ(shown, c.shown);
  }
}

TEST_F(SettingsTest, FlagsSetTheBoxesAndTheTempoFieldFollowsItsBox) {
  struct Case {
    uint32_t mapped, loop, sequential, tempo, linear;
  };
  const Case cases[] = {{1, 0, 1, 0, 0}, {0, 1, 0, 1, 1}, {1, 1, 1, 1, 0}};
  for (const Case& c : cases) {
    RegDeleteTreeA(HKEY_CURRENT_USER, kProductKey);
    StoreNumber("WaveOutSettings", "UseSoundMapper", c.mapped);
    StoreNumber("WaveOutSettings", "LoopPlay", c.loop);
    StoreNumber("WaveOutSettings", "SequentialPlay", c.sequential);
    StoreNumber("WaveOutSettings", "TempoChange", c.tempo);
    StoreNumber("WaveOutSettings", "LinearRMS", c.linear);
    PlayerDialog dialog;
    HWND w = dialog.Window();
    LoadSettings(w);
    EXPECT_EQ(Checked(w, IDC_MAPPED), c.mapped == 1);
    EXPECT_EQ(Checked(w, IDC_LOOP), c.loop == 1);
    EXPECT_EQ(Checked(w, IDC_SEQUENTIAL), c.sequential == 1);
    EXPECT_EQ(Checked(w, IDC_TEMPO_CHECK), c.tempo == 1);
    EXPECT_EQ(Checked(w, IDC_LINEAR_RMS), c.linear == 1);
    EXPECT_EQ(IsWindowEnabled(GetDlgItem(w, IDC_TEMPO)) != FALSE, c.tempo == 1);
  }
}

TEST_F(SettingsTest, StoredPositionIsKeptOnTheVirtualScreen) {
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const int right = left + GetSystemMetrics(SM_CXVIRTUALSCREEN);
  const int bottom = top + GetSystemMetrics(SM_CYVIRTUALSCREEN);
  PlayerDialog probe;
  RECT size;
  GetWindowRect(probe.Window(), &size);
  const int width = size.right - size.left;
  const int height = size.bottom - size.top;
  struct Case {
    const char* what;
    int32_t x, y;
    int expectedX, expectedY;
  };
  const Case cases[] = {
      {"on the screen", left + 30, top + 40, left + 30, top + 40},
      {"on a monitor no longer attached", right + 2000, bottom + 1500, right - width, bottom - height},
      {"left of and above every monitor", left - 5000, top - 5000, left, top},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StoreNumber("AppSettings", "WinPosX", static_cast<uint32_t>(c.x));
    StoreNumber("AppSettings", "WinPosY", static_cast<uint32_t>(c.y));
    PlayerDialog dialog;
    LoadSettings(dialog.Window());
    RECT placed;
    GetWindowRect(dialog.Window(), &placed);
    EXPECT_EQ(placed.left, c.expectedX);
    EXPECT_EQ(placed.top, c.expectedY);
    EXPECT_EQ(placed.right - placed.left, width) << "the size stays";
  }
}

TEST_F(SettingsTest, HistoryValuesFillTheListInIndexOrderWithoutGaps) {
  const std::string tooLong(260, 'L');
  StoreText("WaveFileMRL", "0", "C:\\zero.wav");
  StoreText("WaveFileMRL", "2", "C:\\two.wav");
  StoreText("WaveFileMRL", "3", "");
  StoreText("WaveFileMRL", "4", tooLong);
  StoreText("WaveFileMRL", "5", "C:\\five.wav");
  StoreText("WaveFileMRL", "64", "C:\\beyond.wav");
  StoreText("WaveFileMRL", "Current", tooLong);
  PlayerDialog dialog;
  LoadSettings(dialog.Window());
  EXPECT_EQ(dialog.History(), (std::vector<std::string>{"C:\\zero.wav", "C:\\two.wav", "C:\\five.wav"}));
  EXPECT_EQ(dialog.Text(), "") << "a text of 260 characters reads as empty";
}

TEST_F(SettingsTest, SaveWritesEveryHistoryValueAndNotTheTempo) {
  StoreNumber("WaveOutSettings", "TempoChange", 1);
  StoreNumber("WaveOutSettings", "TempoBPM", 90);
  PlayerDialog dialog;
  HWND w = dialog.Window();
  LoadSettings(w);
  dialog.SetHistory({"C:\\a.wav", std::string(260, 'x'), "C:\\b.wav"});
  SetWindowTextA(dialog.Box(), std::string(300, 'c').c_str());
  CheckDlgButton(w, IDC_TEMPO_CHECK, BST_UNCHECKED);
  SetDlgItemInt(w, IDC_TEMPO, 300, FALSE);
  SetDlgItemTextA(w, IDC_BUFFER_COUNT, "");
  SaveSettings(w);
  EXPECT_EQ(LoadText("WaveFileMRL", "0"), "C:\\a.wav");
  EXPECT_EQ(LoadText("WaveFileMRL", "1"), "") << "an entry of 260 characters is saved empty";
  EXPECT_EQ(LoadText("WaveFileMRL", "2"), "C:\\b.wav");
  for (int i = 3; i < 64; ++i) EXPECT_EQ(LoadText("WaveFileMRL", std::to_string(i).c_str()), "") << i;
  EXPECT_FALSE(Load("WaveFileMRL", "64").present);
  EXPECT_EQ(LoadText("WaveFileMRL", "Current"), std::string(259, 'c')) << "cut to its first 259";
  EXPECT_EQ(LoadNumber("WaveOutSettings", "NumberOfBuffers"), 0u) << "no number saves 0";
  EXPECT_EQ(LoadNumber("WaveOutSettings", "TempoChange"), 1u) << "the tempo is not saved";
  EXPECT_EQ(LoadNumber("WaveOutSettings", "TempoBPM"), 90u);
  EXPECT_EQ(LoadText("WaveOutSettings", "DeviceName"), "") << "no device listed, none selected";
}

// Every setting set to something other than its default, saved as the window goes
// and loaded by a new window.
TEST_F(SettingsTest, EverySettingSurvivesARestart) {
  const int x = GetSystemMetrics(SM_XVIRTUALSCREEN) + 37;
  const int y = GetSystemMetrics(SM_YVIRTUALSCREEN) + 41;
  std::string deviceText;
  {
    PlayerDialog first;
    HWND w = first.Window();
    LoadSettings(w);
    settings::FillOutputDeviceList(w);
    const LRESULT last = SendDlgItemMessageA(w, IDC_DEVICE, CB_GETCOUNT, 0, 0) - 1;
    SendDlgItemMessageA(w, IDC_DEVICE, CB_SETCURSEL, last, 0);
    char text[256] = "";
    SendDlgItemMessageA(w, IDC_DEVICE, CB_GETLBTEXT, last, reinterpret_cast<LPARAM>(text));
    deviceText = text;
    SetWindowPos(w, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    first.SetHistory({"C:\\one.wav", "C:\\two.wav"});
    SetWindowTextA(first.Box(), "C:\\now.wav");
    SetDlgItemInt(w, IDC_BUFFER_COUNT, 12, FALSE);
    SetDlgItemInt(w, IDC_BUFFER_LENGTH, 250, FALSE);
    for (int id : {IDC_MAPPED, IDC_LOOP, IDC_SEQUENTIAL}) CheckDlgButton(w, id, BST_CHECKED);
    CheckDlgButton(w, IDC_LINEAR_RMS, BST_UNCHECKED);
    SendDlgItemMessageA(w, IDC_VOLUME, TBM_SETPOS, TRUE, -123);
    SaveSettings(w);
  }
  PlayerDialog second;
  HWND w = second.Window();
  LoadSettings(w);
  settings::FillOutputDeviceList(w);
  RECT placed;
  GetWindowRect(w, &placed);
  EXPECT_EQ(placed.left, x);
  EXPECT_EQ(placed.top, y);
  EXPECT_EQ(second.History(), (std::vector<std::string>{"C:\\one.wav", "C:\\two.wav"}));
  EXPECT_EQ(second.Text(), "C:\\now.wav");
  EXPECT_EQ(second.TextOf(IDC_BUFFER_COUNT), "12");
  EXPECT_EQ(second.TextOf(IDC_BUFFER_LENGTH), "250");
  for (int id : {IDC_MAPPED, IDC_LOOP, IDC_SEQUENTIAL}) EXPECT_TRUE(Checked(w, id)) << id;
  EXPECT_FALSE(Checked(w, IDC_LINEAR_RMS));
  EXPECT_EQ(Volume(w), -123);
  char selected[256] = "";
  const LRESULT index = SendDlgItemMessageA(w, IDC_DEVICE, CB_GETCURSEL, 0, 0);
  SendDlgItemMessageA(w, IDC_DEVICE, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(selected));
  EXPECT_EQ(selected, deviceText);
  EXPECT_EQ(index, SendDlgItemMessageA(w, IDC_DEVICE, CB_GETCOUNT, 0, 0) - 1);
}

TEST_F(SettingsTest, DeviceBoxListsTheMapperFirstAndMatchesTheNameExactly) {
  std::vector<std::string> names;
  {
    PlayerDialog dialog;
    settings::FillOutputDeviceList(dialog.Window());
    HWND box = GetDlgItem(dialog.Window(), IDC_DEVICE);
    const LRESULT count = SendMessageA(box, CB_GETCOUNT, 0, 0);
    ASSERT_GE(count, 2) << "the wave mapper and at least one device";
    for (LRESULT i = 0; i < count; ++i) {
      EXPECT_EQ(static_cast<uint32_t>(SendMessageA(box, CB_GETITEMDATA, i, 0)), static_cast<uint32_t>(i - 1));
      char text[256] = "";
      SendMessageA(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
      names.push_back(text);
    }
  }
  std::string otherCase = names.back();
  for (char& ch : otherCase) {
    if (ch >= 'a' && ch <= 'z') {
      ch = static_cast<char>(ch - 'a' + 'A');
    } else if (ch >= 'A' && ch <= 'Z') {
      ch = static_cast<char>(ch - 'A' + 'a');
    }
  }
  ASSERT_NE(otherCase, names.back()) << "the name has letters";
  struct Case {
    const char* what;
    std::string stored;
    LRESULT selected;
  };
  const Case cases[] = {
      {"the last entry by its name", names.back(), static_cast<LRESULT>(names.size() - 1)},
      {"the second entry", names[1], 1},
      {"a name differing only in letter case", otherCase, 0},
      {"a name no device has", "Gone Device", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StoreText("WaveOutSettings", "DeviceName", c.stored);
    PlayerDialog dialog;
    settings::FillOutputDeviceList(dialog.Window());
    EXPECT_EQ(SendDlgItemMessageA(dialog.Window(), IDC_DEVICE, CB_GETCURSEL, 0, 0), c.selected);
  }
}

TEST(WideDeviceNameTest, ReadInTheCodePageItWasSavedIn) {
  if (GetACP() != 1252) GTEST_SKIP() << "the case is written for the Western code page";
  wchar_t name[64];
  WideDeviceName("Kopfh\xF6rer", name, 64);
  EXPECT_STREQ(name, L"Kopfh\u00F6rer");
  WideDeviceName("", name, 64);
  EXPECT_STREQ(name, L"");
  const std::string tooLong(80, 'n');
  WideDeviceName(tooLong.c_str(), name, 64);
  EXPECT_STREQ(name, L"") << "a name longer than the list's names matches none";
}

}  // namespace
