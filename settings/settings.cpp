// Loading and saving the main window's settings under the product key of the current
// user. Every value is read and written with its own open and close of its sub-key,
// so one failing value never keeps the others from being processed.
#include "settings/settings.h"

#include <commctrl.h>

#include <cstdio>

#include "resources/resource_ids.h"
#include "settings/settings_rules.h"
#include "win32/enable_control.h"
#include "win32/narrow_text.h"
#include "win32/scoped_reg_key.h"

inline namespace settings {
const char kAppSettingsKey[] = "AppSettings";
const char kWaveOutSettingsKey[] = "WaveOutSettings";
const char kFileHistoryKey[] = "WaveFileMRL";
}  // namespace settings

namespace {

// At most 32 characters of the sub-key's name are used.
constexpr char kKeyPathFormat[] = "SOFTWARE\\ZEMBRIXPlayer\\%.32s";
constexpr size_t kKeyPathCapacity = 64;
// A history value's name: the index in decimal.
constexpr size_t kIndexNameCapacity = 12;
constexpr DWORD kNumberBytes = 4;
constexpr REGSAM kSaveAccess = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;

void FormatKeyPath(const char* subKey, char (&path)[kKeyPathCapacity]) {
  std::snprintf(path, kKeyPathCapacity, kKeyPathFormat, subKey);
}

bool OpenForReading(const char* subKey, ScopedRegKey& key) {
  char path[kKeyPathCapacity];
  FormatKeyPath(subKey, path);
  return RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, key.Receive()) == ERROR_SUCCESS;
}

// Any value of exactly four bytes counts as a number, whatever its registry type.
uint32_t ReadNumber(const char* valueName, const char* subKey, uint32_t fallback) {
  ScopedRegKey key;
  if (!OpenForReading(subKey, key)) return fallback;
  uint32_t number = 0;
  DWORD size = kNumberBytes;
  if (RegQueryValueExA(key.Get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&number), &size) !=
          ERROR_SUCCESS ||
      size != kNumberBytes) {
    return fallback;
  }
  return number;
}

void WriteValue(const char* subKey, const char* valueName, DWORD type, const void* data, DWORD size) {
  char path[kKeyPathCapacity];
  FormatKeyPath(subKey, path);
  ScopedRegKey key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, REG_OPTION_NON_VOLATILE, kSaveAccess, nullptr,
                      key.Receive(), nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExA(key.Get(), valueName, 0, type, static_cast<const BYTE*>(data), size);
}

void WriteNumber(const char* subKey, const char* valueName, uint32_t number) {
  WriteValue(subKey, valueName, REG_DWORD, &number, kNumberBytes);
}

void WriteText(const char* subKey, const char* valueName, const char* text) {
  WriteValue(subKey, valueName, REG_SZ, text, static_cast<DWORD>(lstrlenA(text) + 1));
}

void IndexName(int index, char (&name)[kIndexNameCapacity]) { std::snprintf(name, kIndexNameCapacity, "%d", index); }

bool IsChecked(HWND window, int id) { return IsDlgButtonChecked(window, id) == BST_CHECKED; }

// The stored position, moved back onto the virtual screen (a monitor it was on may be
// gone), keeping the window's size and Z order.
void LoadPosition(HWND window) {
  RECT current;
  if (!GetWindowRect(window, &current)) return;
  const auto left = static_cast<int32_t>(ReadNumber("WinPosX", kAppSettingsKey, static_cast<uint32_t>(current.left)));
  const auto top = static_cast<int32_t>(ReadNumber("WinPosY", kAppSettingsKey, static_cast<uint32_t>(current.top)));
  const int32_t screenLeft = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int32_t screenTop = GetSystemMetrics(SM_YVIRTUALSCREEN);
  const ScreenRect screen{screenLeft, screenTop, screenLeft + GetSystemMetrics(SM_CXVIRTUALSCREEN),
                          screenTop + GetSystemMetrics(SM_CYVIRTUALSCREEN)};
  const ScreenPoint placed =
      KeepOnScreen(left, top, current.right - current.left, current.bottom - current.top, screen);
  SetWindowPos(window, nullptr, placed.x, placed.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void LoadHistory(HWND window) {
  char text[kPathCapacity];
  // A path the system would refuse is left out, as one too long for the buffer is.
  ReadStringSetting(text, kPathCapacity, "Current", kFileHistoryKey);
  SetDlgItemTextA(window, IDC_FILE_NAME, NarrowPathFits(text) ? text : "");
  for (int i = 0; i < kHistoryMaxEntries; ++i) {
    char name[kIndexNameCapacity];
    IndexName(i, name);
    if (ReadStringSetting(text, kPathCapacity, name, kFileHistoryKey) > 0 && NarrowPathFits(text)) {
      SendDlgItemMessageA(window, IDC_FILE_NAME, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
  }
}

void LoadTempo(HWND window) {
  int low = 0;
  int high = 0;
  SendDlgItemMessageA(window, IDC_TEMPO_SPIN, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low),
                      reinterpret_cast<LPARAM>(&high));
  const uint32_t tempo = ClampUnsigned(ReadNumber("TempoBPM", kWaveOutSettingsKey, kDefaultTempoBpm),
                                       static_cast<uint32_t>(low), static_cast<uint32_t>(high));
  SetDlgItemInt(window, IDC_TEMPO, tempo, FALSE);
  EnableControl(window, IDC_TEMPO, IsChecked(window, IDC_TEMPO_CHECK));
}

void LoadVolume(HWND window) {
  const auto low = static_cast<int32_t>(SendDlgItemMessageA(window, IDC_VOLUME, TBM_GETRANGEMIN, 0, 0));
  const auto high = static_cast<int32_t>(SendDlgItemMessageA(window, IDC_VOLUME, TBM_GETRANGEMAX, 0, 0));
  const auto stored = static_cast<int32_t>(
      ReadNumber("dBVolumeX10", kWaveOutSettingsKey, static_cast<uint32_t>(kDefaultVolumeX10)));
  SendDlgItemMessageA(window, IDC_VOLUME, TBM_SETPOS, TRUE, ClampSigned(stored, low, high));
}

// The check state is the stored number as it is.
void LoadCheck(HWND window, int id, const char* valueName, uint32_t fallback) {
  CheckDlgButton(window, id, ReadNumber(valueName, kWaveOutSettingsKey, fallback));
}

void SaveHistory(HWND window) {
  char text[kPathCapacity] = "";
  GetDlgItemTextA(window, IDC_FILE_NAME, text, kPathCapacity);
  CutToPathLimit(text);
  WriteText(kFileHistoryKey, "Current", text);
  HWND box = GetDlgItem(window, IDC_FILE_NAME);
  const LRESULT count = SendMessageA(box, CB_GETCOUNT, 0, 0);
  for (int i = 0; i < kHistoryMaxEntries; ++i) {
    char name[kIndexNameCapacity];
    IndexName(i, name);
    text[0] = '\0';
    const LRESULT length = i < count ? SendMessageA(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) : CB_ERR;
    if (length == CB_ERR || length >= kPathCapacity ||
        SendMessageA(box, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text)) == CB_ERR ||
        !NarrowPathFits(text)) {
      text[0] = '\0';
    }
    WriteText(kFileHistoryKey, name, text);
  }
}

void SaveDeviceName(HWND window) {
  char name[kDeviceNameBytes] = "";
  HWND box = GetDlgItem(window, IDC_DEVICE);
  const LRESULT selected = SendMessageA(box, CB_GETCURSEL, 0, 0);
  if (selected != CB_ERR) {
    const LRESULT length = SendMessageA(box, CB_GETLBTEXTLEN, static_cast<WPARAM>(selected), 0);
    if (length == CB_ERR || length >= static_cast<LRESULT>(kDeviceNameBytes) ||
        SendMessageA(box, CB_GETLBTEXT, static_cast<WPARAM>(selected), reinterpret_cast<LPARAM>(name)) == CB_ERR) {
      name[0] = '\0';
    }
  }
  WriteText(kWaveOutSettingsKey, "DeviceName", name);
}

}  // namespace

inline namespace settings {

uint32_t ReadStringSetting(char* buffer, uint32_t capacity, const char* valueName, const char* subKey) {
  if (!buffer || capacity == 0) return 0;
  buffer[0] = '\0';
  ScopedRegKey key;
  if (!OpenForReading(subKey, key)) return 0;
  DWORD size = capacity;
  if (RegQueryValueExA(key.Get(), valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
          ERROR_SUCCESS ||
      size == 0) {
    buffer[0] = '\0';
    return 0;
  }
  // A stored text need not end in a zero. One that fills the buffer without it is
  // longer than the buffer allows and is refused; a shorter one gets its terminator.
  if (buffer[size - 1] != '\0') {
    if (size >= capacity) {
      buffer[0] = '\0';
      return 0;
    }
    buffer[size] = '\0';
  }
  return static_cast<uint32_t>(lstrlenA(buffer));
}

void LoadSettings(HWND window) {
  LoadPosition(window);
  LoadHistory(window);
  SetDlgItemInt(window, IDC_BUFFER_COUNT,
                ClampBufferCount(true, ReadNumber("NumberOfBuffers", kWaveOutSettingsKey, kDefaultBufferCount)),
                FALSE);
  SetDlgItemInt(window, IDC_BUFFER_LENGTH,
                ClampBufferMilliseconds(
                    true, ReadNumber("EachBufferLength", kWaveOutSettingsKey, kDefaultBufferLengthMs)),
                FALSE);
  LoadCheck(window, IDC_MAPPED, "UseSoundMapper", 0);
  LoadCheck(window, IDC_LOOP, "LoopPlay", 0);
  LoadCheck(window, IDC_SEQUENTIAL, "SequentialPlay", 0);
  LoadCheck(window, IDC_TEMPO_CHECK, "TempoChange", 0);
  LoadTempo(window);
  LoadCheck(window, IDC_LINEAR_RMS, "LinearRMS", kDefaultLinearRms);
  LoadVolume(window);
}

uint32_t DeviceWaitSeconds() {
  return ClampUnsigned(ReadNumber("DeviceWaitSeconds", kWaveOutSettingsKey, kDefaultDeviceWaitSeconds), 0,
                       kMaxDeviceWaitSeconds);
}

void SaveSettings(HWND window) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (GetWindowPlacement(window, &placement)) {
    WriteNumber(kAppSettingsKey, "WinPosX", static_cast<uint32_t>(placement.rcNormalPosition.left));
    WriteNumber(kAppSettingsKey, "WinPosY", static_cast<uint32_t>(placement.rcNormalPosition.top));
  }
  SaveHistory(window);
  WriteNumber(kWaveOutSettingsKey, "NumberOfBuffers", GetDlgItemInt(window, IDC_BUFFER_COUNT, nullptr, FALSE));
  WriteNumber(kWaveOutSettingsKey, "EachBufferLength", GetDlgItemInt(window, IDC_BUFFER_LENGTH, nullptr, FALSE));
  SaveDeviceName(window);
  WriteNumber(kWaveOutSettingsKey, "UseSoundMapper", IsChecked(window, IDC_MAPPED) ? 1 : 0);
  WriteNumber(kWaveOutSettingsKey, "LoopPlay", IsChecked(window, IDC_LOOP) ? 1 : 0);
  WriteNumber(kWaveOutSettingsKey, "SequentialPlay", IsChecked(window, IDC_SEQUENTIAL) ? 1 : 0);
  WriteNumber(kWaveOutSettingsKey, "LinearRMS", IsChecked(window, IDC_LINEAR_RMS) ? 1 : 0);
  WriteNumber(kWaveOutSettingsKey, "dBVolumeX10",
              static_cast<uint32_t>(SendDlgItemMessageA(window, IDC_VOLUME, TBM_GETPOS, 0, 0)));
  WriteNumber(kWaveOutSettingsKey, "DeviceWaitSeconds", DeviceWaitSeconds());
}

}  // namespace settings
