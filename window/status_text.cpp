// What the main window tells the user while it plays: the detail line, the device
// line after each write, the device awaited, the volume text, and wave-out error
// boxes.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include "devices/output_devices.h"
#include "dsp/gain.h"
#include "dsp/sample_format.h"
#include "engine/feeder.h"
#include "engine/output_handle.h"
#include "engine/session.h"
#include "playback/position.h"
#include "playback/streamed_conversion.h"
#include "playback/window_hooks.h"
#include "settings/settings.h"
#include "sources/converter_progress.h"
#include "sources/preparation.h"
#include "win32/scoped_lock.h"
#include "window/main_window.h"
#include "window/window_texts.h"

namespace {

const char kStatusWaiting[] = "Waiting for '%s' to come back; Stop gives up";

// Whether the device box lists exactly the devices there are now.
bool BoxListsDevices(HWND window, uint32_t total) {
  HWND box = GetDlgItem(window, IDC_DEVICE);
  if (SendMessageW(box, CB_GETCOUNT, 0, 0) != static_cast<LRESULT>(total) + 1) return false;
  for (uint32_t position = 1; position <= total; ++position) {
    OutputDeviceCaps caps;
    wchar_t text[kDisplayNameChars] = L"";
    const LRESULT length = SendMessageW(box, CB_GETLBTEXTLEN, position, 0);
    if (length == CB_ERR || length >= static_cast<LRESULT>(kDisplayNameChars)) return false;
    SendMessageW(box, CB_GETLBTEXT, position, reinterpret_cast<LPARAM>(text));
    if (GetOutputDeviceCaps(position - 1, &caps) == MMSYSERR_NOERROR && lstrcmpW(caps.displayName, text) != 0) {
      return false;
    }
  }
  return true;
}

// The detail line's three texts: samples, milliseconds and bytes, each with its
// own error wording.
void ShowDetailLine(HWND window, OutputHandle* output, const MMTIME& bytes, uint32_t bytesError) {
  char samplesText[32], msText[32], bytesText[32];
  uint32_t error = 0;
  const MMTIME samples = QueryPosition(output, TIME_SAMPLES, &error);
  if (error) {
    std::snprintf(samplesText, sizeof samplesText, "MMSYSERROR(%u)", error);
  } else if (samples.wType != TIME_SAMPLES) {
    std::snprintf(samplesText, sizeof samplesText, "FAILED");
  } else {
    std::snprintf(samplesText, sizeof samplesText, "%lu", static_cast<unsigned long>(samples.u.sample));
  }
  const MMTIME ms = QueryPosition(output, TIME_MS, &error);
  if (error) {
    std::snprintf(msText, sizeof msText, "ERROR(%u)", error);
  } else if (ms.wType != TIME_MS) {
    std::snprintf(msText, sizeof msText, "FAILED");
  } else {
    FormatClockText(msText, sizeof msText, ms.u.ms);
  }
  if (bytesError) {
    std::snprintf(bytesText, sizeof bytesText, "ERROR(%u)", bytesError);
  } else if (bytes.wType != TIME_BYTES) {
    std::snprintf(bytesText, sizeof bytesText, "FAILED");
  } else {
    std::snprintf(bytesText, sizeof bytesText, "%lu", static_cast<unsigned long>(bytes.u.cb));
  }
  char line[128];
  std::snprintf(line, sizeof line, "ms=%s  smpl=%s  cb=%s", msText, samplesText, bytesText);
  SetWindowTextA(ControlOf(window, IDC_DETAIL), line);
}

}  // namespace

void ShowOutputDetails(HWND window, OutputHandle* output, const MMTIME& bytes, uint32_t bytesError) {
  const MainWindow* w = MainWindowOf(window);
  if (w && w->detailsShown) ShowDetailLine(window, output, bytes, bytesError);
}

void KeepFormatLine(HWND window) {
  MainWindow* w = MainWindowOf(window);
  if (w) GetDlgItemTextA(window, IDC_FORMAT, w->formatBeforeWait, sizeof w->formatBeforeWait);
}

void ShowDeviceWait(HWND window, const wchar_t* device) {
  char narrow[2 * kDisplayNameChars];
  NarrowDeviceName(device, narrow, sizeof narrow);
  char text[sizeof narrow + sizeof kStatusWaiting];
  std::snprintf(text, sizeof text, kStatusWaiting, narrow);
  SetStatus(window, text);
  SetDlgItemTextA(window, IDC_FORMAT, text);
}

void EndDeviceWaitView(HWND window) {
  const MainWindow* w = MainWindowOf(window);
  if (w) SetDlgItemTextA(window, IDC_FORMAT, w->formatBeforeWait);
}

void UpdateVolume(PlayerSession& session, HWND window) {
  const int32_t v = static_cast<int32_t>(SendDlgItemMessageA(window, IDC_VOLUME, TBM_GETPOS, 0, 0));
  char text[16];
  FormatVolumeText(text, sizeof text, v);
  SetDlgItemTextA(window, IDC_VOLUME_TEXT, text);
  ShowSignalPathVolume(window, v);
  ScopedLock lock(session.lock);
  session.gain = GainFromVolume(v);
}

void ShowDeviceInfo(HWND window, uint32_t ringIndex) {
  MainWindow* w = MainWindowOf(window);
  uint32_t kind = 0, rate = 0, bits = 0, channels = 0;
  char name[64] = {};
  char text[160];
  if (!w || !w->session->output ||
      QueryOutputInfo(w->session->output, &kind, &rate, &bits, &channels, name) != MMSYSERR_NOERROR) {
    std::snprintf(text, sizeof text, "waveOutWrite(%u) is OK", ringIndex);
  } else {
    const char* kindText = kind == kOutputKindMme ? "MME" : kind == kOutputKindWasapi ? "WASAPI (Exclusive)" : "???";
    std::snprintf(text, sizeof text, "%s %uHz %ubits %uch Buffer#%u\r\n[%.63s]", kindText, rate, bits,
                  channels, ringIndex, name);
  }
  SetStatus(window, text);
}

void ShowMmError(HWND window, const char* caption, uint32_t code) {
  char text[256];
  if (waveOutGetErrorTextA(code, text, sizeof text) != MMSYSERR_NOERROR || text[0] == '\0') {
    std::snprintf(text, sizeof text, "MMSYSERROR(%u)", code);
  }
  MessageBoxA(window, text, caption, MB_OK | MB_ICONWARNING);
}

void ShowPreparationProgress(HWND window, MainWindow* w) {
  if (!w->preparation) return;
  if (w->streaming) {  // the status line is the device's now; the overview grows
    ScopedLock lock(w->session->lock);
    w->streamedOverviewBytes = RefreshStreamedOverview(window, *w->session, PreparationRequestOf(w->preparation).target,
                                                       w->streamedOverviewBytes);
    return;
  }
  char text[64];
  FormatConversionStatus(text, sizeof text, PreparationPercent(w->preparation),
                         PreparationElapsedMs(w->preparation));
  char shown[64] = "";
  GetWindowTextA(ControlOf(window, IDC_STATUS), shown, sizeof shown);
  if (lstrcmpA(shown, text) != 0) SetStatus(window, text);
}

// The feeder waits for the converter to reach the frame it reads next.
void ShowAwaitingConversion(HWND window, PlayerSession& session, uint32_t frame) {
  ScopedLock lock(session.lock);
  if (!session.growing) return;
  char time[32];
  FormatTimeText(time, sizeof time, FramesToMilliseconds(frame, session.format.SampleRate()), session.totalFrames,
                 session.format.SampleRate());
  char text[64];
  std::snprintf(text, sizeof text, "Waiting for the conversion to reach %s", time);
  SetStatus(window, text);
}

void ListDevicesAgain(HWND window, uint32_t total, const wchar_t* selected) {
  if (!BoxListsDevices(window, total)) FillOutputDeviceList(window, selected);
}
