// The player's settings in the current user's registry. The main window's controls
// are the settings: they are loaded once while the dialog initialises and saved once
// at each shutdown step, and nothing is written in between.
#pragma once

#include <windows.h>

#include <cstdint>

// The operations sit in an inline namespace: calls need no qualifier, and the linker
// keeps them apart from any other function of the same name in the shell library.
inline namespace settings {

// Sub-keys of the product key.
extern const char kAppSettingsKey[];      // "AppSettings"
extern const char kWaveOutSettingsKey[];  // "WaveOutSettings"
extern const char kFileHistoryKey[];      // "WaveFileMRL"
// The stored DeviceName is read into this many bytes: a display name's 63 UTF-16
// units at up to 3 bytes each in UTF-8, and the terminator.
constexpr uint32_t kDeviceNameBytes = 3 * 63 + 1;

// The text of string value `valueName` of sub-key `subKey`, in `buffer` of `capacity`
// bytes. Returns its length; the text is empty when the key or the value is missing,
// the value is empty or does not fit with its terminator.
uint32_t ReadStringSetting(char* buffer, uint32_t capacity, const char* valueName, const char* subKey);

// Pushes every stored value into its control of the main window, each checked or
// clamped; the spin controls' and the volume slider's ranges must be set already.
void LoadSettings(HWND window);

// Reads every setting control back into the registry (not the tempo: it is only read).
void SaveSettings(HWND window);

// DeviceWaitSeconds: how long playback waits for a device that stopped serving
// (60 when missing, at most a day; 0 stops at once). It has no control: read when
// a wait begins, and written back as read at each save so that it can be found.
uint32_t DeviceWaitSeconds();

// Fills the output device box with the combined device list (item data: each entry's
// device index) and selects the entry whose name equals the stored DeviceName, the
// last of several equal ones, or the wave mapper.
void FillOutputDeviceList(HWND window);
// The same, selecting the entry named `keep` (the wave mapper when none is).
void FillOutputDeviceList(HWND window, const wchar_t* keep);

// The stored DeviceName as the device list spells its names: converted from the
// system's ANSI code page, in which it was saved, to at most `capacity` - 1 UTF-16
// units; empty when it does not convert.
void WideDeviceName(const char* stored, wchar_t* name, int capacity);

}  // namespace settings
