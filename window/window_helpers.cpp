// Small helpers the window's files use: the records of the window, the loop mode,
// the detail area, warnings and the status line (the enable rule is in
// win32/enable_control.h).
#include "window/main_window.h"

#include "devices/output_devices.h"

const char kAppCaption[] = "ZEMBRIX Player(x86)";
const char kTimeUnknown[] = "--'--.-";

MainWindow* MainWindowOf(HWND window) {
  return reinterpret_cast<MainWindow*>(GetWindowLongPtrA(window, DWLP_USER));
}

PlaybackState* PlaybackOf(HWND window) { return MainWindowOf(window); }

HWND ControlOf(HWND window, int id) {
  const MainWindow* w = MainWindowOf(window);
  HWND kept = nullptr;
  if (w) {
    switch (id) {
      case IDC_WAVEFORM: kept = w->waveformControl; break;
      case IDC_TIME: kept = w->timeControl; break;
      case IDC_STATUS: kept = w->statusControl; break;
      case IDC_DETAIL: kept = w->detailControl; break;
      case IDC_FORWARD: kept = w->forwardButton; break;
      case IDC_BACKWARD: kept = w->backwardButton; break;
      default: break;
    }
  }
  return kept ? kept : GetDlgItem(window, id);
}

bool IsLoopMode(HWND window) {
  return IsDlgButtonChecked(window, IDC_LOOP) == BST_CHECKED &&
         IsDlgButtonChecked(window, IDC_SEQUENTIAL) != BST_CHECKED;
}

void ShowDetails(HWND window, bool show) {
  MainWindow* w = MainWindowOf(window);
  if (!w || w->detailsShown == show) return;
  RECT client, detail, status, signalPath;
  GetClientRect(window, &client);
  GetWindowRect(GetDlgItem(window, IDC_DETAIL), &detail);
  GetWindowRect(GetDlgItem(window, IDC_STATUS), &status);
  GetWindowRect(GetDlgItem(window, IDC_SIGNAL_PATH), &signalPath);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&detail), 2);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&status), 2);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&signalPath), 2);
  // The signal-path line is the last of the area.
  const LONG wantedBottom =
      show ? signalPath.bottom + (status.bottom - status.top) / 8 : detail.top;
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  GetWindowPlacement(window, &placement);
  placement.rcNormalPosition.bottom += wantedBottom - client.bottom;
  if (!IsWindowVisible(window)) placement.showCmd = SW_HIDE;
  SetWindowPlacement(window, &placement);
  EnableControl(window, IDC_BUFFER_LENGTH, show);
  EnableControl(window, IDC_BUFFER_COUNT, show);
  // Below the collapsed window's edge the three lines cannot be seen; hidden, they
  // keep their texts without drawing them (the status line changes with every
  // buffer written).
  ShowWindow(ControlOf(window, IDC_DETAIL), show ? SW_SHOWNA : SW_HIDE);
  ShowWindow(ControlOf(window, IDC_STATUS), show ? SW_SHOWNA : SW_HIDE);
  ShowWindow(GetDlgItem(window, IDC_SIGNAL_PATH), show ? SW_SHOWNA : SW_HIDE);
  w->detailsShown = show;
}

void ShowWarning(HWND window, const char* text) {
  MessageBoxA(window, text, kAppCaption, MB_OK | MB_ICONWARNING);
}

void SetStatus(HWND window, const char* text) { SetWindowTextA(ControlOf(window, IDC_STATUS), text); }

HINSTANCE InstanceOf(HWND window) {
  return reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
}

bool HasFileName(HWND window) { return GetWindowTextLengthA(GetDlgItem(window, IDC_FILE_NAME)) > 0; }

bool SelectedDeviceIsMapped(HWND window) {
  const LRESULT selection = SendDlgItemMessageA(window, IDC_DEVICE, CB_GETCURSEL, 0, 0);
  const LRESULT data = SendDlgItemMessageA(window, IDC_DEVICE, CB_GETITEMDATA, selection, 0);
  return static_cast<uint32_t>(data) != kWaveMapperIndex;
}

void PostStart(HWND window) {
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_START)));
}
