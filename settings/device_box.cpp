// The output device box: every entry of the combined device list, the entry saved
// last time selected by its display name, the device's identity across runs.
#include <cstdint>
#include <cwchar>

#include "devices/output_devices.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"

inline namespace settings {

void WideDeviceName(const char* stored, wchar_t* name, int capacity) {
  if (capacity <= 0) return;
  // In UTF-8 Windows takes no flag but MB_ERR_INVALID_CHARS: MB_PRECOMPOSED would
  // fail the conversion there (Wine lets it pass).
  const DWORD flags = GetACP() == CP_UTF8 ? 0 : MB_PRECOMPOSED;
  if (MultiByteToWideChar(CP_ACP, flags, stored, -1, name, capacity) == 0) name[0] = L'\0';
}

void FillOutputDeviceList(HWND window) {
  char stored[kDeviceNameBytes];
  ReadStringSetting(stored, kDeviceNameBytes, "DeviceName", kWaveOutSettingsKey);
  wchar_t saved[kDisplayNameChars];
  WideDeviceName(stored, saved, kDisplayNameChars);
  FillOutputDeviceList(window, saved);
}

void FillOutputDeviceList(HWND window, const wchar_t* saved) {
  HWND box = GetDlgItem(window, IDC_DEVICE);
  SendMessageA(box, CB_RESETCONTENT, 0, 0);
  const uint32_t total = WasapiDeviceCount() + waveOutGetNumDevs();
  LRESULT selected = 0;  // the wave mapper, when no name matches
  // List position p holds device index p - 1: the wave mapper (-1) comes first.
  for (uint32_t position = 0; position <= total; ++position) {
    const OutputDeviceIndex index = position - 1;
    OutputDeviceCaps caps;
    wchar_t text[kDisplayNameChars];
    if (GetOutputDeviceCaps(index, &caps) == MMSYSERR_NOERROR) {
      lstrcpynW(text, caps.displayName, kDisplayNameChars);
    } else {
      std::swprintf(text, kDisplayNameChars, L"DeviceID #%u", index);
    }
    const LRESULT inserted =
        SendMessageW(box, CB_INSERTSTRING, static_cast<WPARAM>(position), reinterpret_cast<LPARAM>(text));
    SendMessageA(box, CB_SETITEMDATA, static_cast<WPARAM>(inserted), static_cast<LPARAM>(index));
    // Exact and case-sensitive; a later equal entry takes the selection.
    if (lstrcmpW(saved, text) == 0) selected = inserted;
  }
  SendMessageA(box, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

}  // namespace settings
