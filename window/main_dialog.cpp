// The main dialog's procedure: one small handler per message or command, each
// turning it into calls of the playback (playback/) or of the window's own views.
// The Stop button's enabled state is the one record of whether something plays.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include "engine/feeder.h"
#include "engine/session.h"
#include "playback/device_wait.h"
#include "playback/prepared_start.h"
#include "playback/sequential.h"
#include "playback/stop.h"
#include "playback/transport.h"
#include "sources/preparation.h"
#include "waveform/waveform_display.h"
#include "win32/scoped_lock.h"
#include "window/dialog_lifetime.h"
#include "window/history.h"
#include "window/main_window.h"

namespace {

// Where a context menu asked for with the keyboard appears, inside the window.
constexpr int kKeyboardMenuOffset = 16;

bool IsPlaying(HWND window) { return IsWindowEnabled(GetDlgItem(window, IDC_STOP)) != FALSE; }

void RememberSelected(HWND window) {
  RememberFile(GetDlgItem(window, IDC_FILE_NAME), RememberMode::kSelect);
}

}  // namespace

void RememberStartedFile(HWND window, const char* source) {
  char text[kPathCapacity] = "";
  GetDlgItemTextA(window, IDC_FILE_NAME, text, sizeof text);
  if (lstrcmpiA(text, source) == 0) RememberSelected(window);
}

namespace {

void ShowAbout(HWND window, const MainWindow* w) {
  if (w->showAbout) w->showAbout(InstanceOf(window), window);
}

void OnDeviceChanged(HWND window, PlayerSession& session) {
  EnableControl(window, IDC_MAPPED, SelectedDeviceIsMapped(window));
  if (IsPlaying(window)) PlayOnSelectedDevice(window, session);
}

void OnLinearRms(HWND window, LPARAM control) {
  if (!control) {  // from the context menu, where the hidden box cannot be clicked
    CheckDlgButton(window, IDC_LINEAR_RMS,
                   IsDlgButtonChecked(window, IDC_LINEAR_RMS) == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
  }
  const LPARAM options = IsDlgButtonChecked(window, IDC_LINEAR_RMS) == BST_CHECKED ? kWaveformLinearRms : 0;
  SendDlgItemMessageA(window, IDC_WAVEFORM, WDM_SETOPTIONS, 0, options);
}

void OnCommand(HWND window, MainWindow* w, WPARAM wParam, LPARAM lParam) {
  PlayerSession& session = *w->session;
  const int id = LOWORD(wParam);
  const int code = HIWORD(wParam);
  switch (id) {
    case IDC_STOP:
      StopAll(window, w);
      break;
    case IDC_PLAY_OR_STOP:
      if (IsPlaying(window)) {
        StopAll(window, w);
      } else if (StartUnderLock(window, session, kResumePosition) == 1) {
        RememberSelected(window);
      }
      break;
    case IDC_PAUSE: {
      ScopedLock lock(session.lock);
      TogglePause(window, session);
      break;
    }
    case IDC_BROWSE:
      if (BrowseFiles(window)) {
        RememberFile(GetDlgItem(window, IDC_FILE_NAME), RememberMode::kMoveToTop);
        PostStart(window);
      }
      break;
    case IDC_DEVICE:
      if (code == CBN_SELCHANGE) OnDeviceChanged(window, session);
      if (code == CBN_DROPDOWN) FitDropWidth(reinterpret_cast<HWND>(lParam));
      break;
    case IDC_FILE_NAME:
      if (code == CBN_SELCHANGE) {
        // The edit field takes the entry's text only after this notice: post on.
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_FILE_NAME, CBN_EDITCHANGE), lParam);
        PostStart(window);
      } else if (code == CBN_EDITCHANGE) {
        EnableControl(window, IDC_START, HasFileName(window));
      } else if (code == CBN_DROPDOWN) {
        FitDropWidth(reinterpret_cast<HWND>(lParam));
      }
      break;
    case IDC_LOOP:
    case IDC_SEQUENTIAL:
      ApplyPlayMode(window, session);
      break;
    case IDC_TEMPO_CHECK:
      EnableControl(window, IDC_TEMPO, IsDlgButtonChecked(window, IDC_TEMPO_CHECK) == BST_CHECKED);
      break;
    case IDC_LINEAR_RMS:
      OnLinearRms(window, lParam);
      break;
    case IDC_REWIND:
      Rewind(window, IsPlaying(window));
      break;
    case IDC_BACKWARD:
      SkipBack(window);
      break;
    case IDC_START:
      if (StartUnderLock(window, session, 0) == 1) RememberSelected(window);
      break;
    case IDC_FORWARD:
      SkipForward(window);
      break;
    case IDM_SHOW_DETAILS:
      ShowDetails(window, !w->detailsShown);
      break;
    case IDM_ABOUT:
      ShowAbout(window, w);
      break;
    default:
      break;
  }
}

void OnTimer(HWND window, MainWindow* w, UINT_PTR timer) {
  switch (timer) {
    case TIMER_POSITION:
      FollowPlayingPosition(window, *w->session);
      break;
    case TIMER_END_OF_PLAY:
      HandleEndOfPlay(window);
      break;
    case TIMER_BUTTON_REPEAT:
      RepeatHeldButtons(window);
      break;
    case TIMER_PREPARATION:
      ShowPreparationProgress(window, w);
      break;
    case TIMER_DEVICE_RETRY:
      RetryAwaitedDevice(window, *w->session);
      break;
    default:
      break;
  }
}

void OnMouseSeek(HWND window, MainWindow* w, LPARAM lParam, bool press) {
  const POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  ScopedLock lock(w->session->lock);
  if (SeekFromPoint(window, point, *w->session) && press) SetCapture(window);
}

void OnContextMenu(HWND window, MainWindow* w, LPARAM lParam) {
  POINT point{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  RECT displayRect, windowRect;
  GetWindowRect(GetDlgItem(window, IDC_WAVEFORM), &displayRect);
  GetWindowRect(window, &windowRect);
  const bool onDisplay = PtInRect(&displayRect, point) != FALSE;
  HMENU menu = LoadMenuA(InstanceOf(window), MAKEINTRESOURCEA(onDisplay ? IDM_WAVEFORM_MENU : IDM_WINDOW_MENU));
  if (!menu) return;
  HMENU popup = GetSubMenu(menu, 0);
  if (onDisplay) {
    CheckMenuItem(popup, IDC_LINEAR_RMS,
                  IsDlgButtonChecked(window, IDC_LINEAR_RMS) == BST_CHECKED ? MF_CHECKED : MF_UNCHECKED);
  } else {
    CheckMenuItem(popup, IDM_SHOW_DETAILS, w->detailsShown ? MF_CHECKED : MF_UNCHECKED);
    if (!PtInRect(&windowRect, point)) {  // asked for with the keyboard
      point.x = windowRect.left + kKeyboardMenuOffset;
      point.y = windowRect.top + kKeyboardMenuOffset;
    }
  }
  TrackPopupMenu(popup, TPM_LEFTBUTTON, point.x, point.y, 0, window, nullptr);
  DestroyMenu(menu);
}

// The wheel goes on to the file-name box, which steps through the history with
// it. The box takes only a plain wheel: with Ctrl or Shift it hands the message
// back to this window, which would forward it again for ever. So only a plain
// wheel is forwarded, and one that comes back while being forwarded is dropped.
void ForwardWheel(HWND window, MainWindow* w, WPARAM wParam, LPARAM lParam) {
  if (w->forwardingWheel || (GET_KEYSTATE_WPARAM(wParam) & (MK_CONTROL | MK_SHIFT)) != 0) return;
  w->forwardingWheel = true;
  SendDlgItemMessageA(window, IDC_FILE_NAME, WM_MOUSEWHEEL, wParam, lParam);
  w->forwardingWheel = false;
}

}  // namespace

INT_PTR CALLBACK MainDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) return OnInitDialog(window, reinterpret_cast<const MainWindowStart*>(lParam));
  MainWindow* w = MainWindowOf(window);
  if (!w) return FALSE;
  switch (message) {
    case WM_COMMAND:
      OnCommand(window, w, wParam, lParam);
      return TRUE;
    case WM_TIMER:
      OnTimer(window, w, wParam);
      return TRUE;
    case WM_HSCROLL:
      if (reinterpret_cast<HWND>(lParam) == GetDlgItem(window, IDC_VOLUME)) UpdateVolume(*w->session, window);
      return TRUE;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      OnMouseSeek(window, w, lParam, true);
      return TRUE;
    case WM_MOUSEMOVE:
      if (GetCapture() == window) OnMouseSeek(window, w, lParam, false);
      return TRUE;
    case WM_LBUTTONUP:
      if (GetCapture() == window) ReleaseCapture();
      return TRUE;
    case WM_MOUSEWHEEL:
      ForwardWheel(window, w, wParam, lParam);
      return TRUE;
    case WM_DROPFILES:
      HandleDroppedFiles(window, reinterpret_cast<HDROP>(wParam));
      DragFinish(reinterpret_cast<HDROP>(wParam));
      return TRUE;
    case WM_CONTEXTMENU:
      OnContextMenu(window, w, lParam);
      return TRUE;
    case WM_SYSCOMMAND:
      // An item the program added comes with its own identifier, unmasked.
      if (wParam != IDM_ABOUT) return FALSE;
      ShowAbout(window, w);
      return TRUE;
    case WM_CLOSE:
      EndDialog(window, 0);
      return TRUE;
    case WM_ENDSESSION:
      if (wParam) SendMessageA(window, MSG_SHUTDOWN, 0, 0);
      return TRUE;
    case WM_DESTROY:
      SendMessageA(window, MSG_SHUTDOWN, 0, 0);
      return TRUE;
    case WM_NCDESTROY:
      OnFinalDestroy(window, w);
      return FALSE;
    case MSG_SHUTDOWN:
      OnShutdown(window, w);
      return TRUE;
    case MSG_REMEMBER_FILE:
      RememberFile(GetDlgItem(window, IDC_FILE_NAME), RememberMode::kMoveToTop);
      return TRUE;
    case MSG_LOAD_OVERVIEW:
      LoadPostedOverview(window, *w->session);
      return TRUE;
    case MSG_FEEDER_READ_ERROR:
      ReportReadError(window, *w->session);
      return TRUE;
    case MSG_FEEDER_WRITE_ERROR:
      ReportWriteError(window, *w->session, static_cast<uint32_t>(lParam));
      return TRUE;
    case MSG_FEEDER_DEVICE_STALLED:
      ReportStoppedDevice(window, *w->session);
      return TRUE;
    case MSG_FEEDER_BUFFER_WRITTEN:
      ShowDeviceInfo(window, static_cast<uint32_t>(wParam));
      return TRUE;
    case MSG_FEEDER_END:
      SetTimer(window, TIMER_END_OF_PLAY, static_cast<UINT>(wParam), nullptr);
      return TRUE;
    case MSG_FEEDER_AWAITING_DATA:
      ShowAwaitingConversion(window, *w->session, static_cast<uint32_t>(wParam));
      return TRUE;
    case MSG_PREPARATION_READY:
      OnPreparationReady(window, w, wParam);
      return TRUE;
    case MSG_PREPARATION_DONE:
      OnPreparationDone(window, w, wParam);
      return TRUE;
    case WM_SETCURSOR:
      // The arrow with the hourglass while a file is prepared: work in the
      // background, and the window (Stop first) still answers.
      if (!w->preparation || w->streaming || LOWORD(lParam) != HTCLIENT) return FALSE;
      SetCursor(LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_APPSTARTING)));
      SetWindowLongPtrA(window, DWLP_MSGRESULT, TRUE);
      return TRUE;
    default:
      return FALSE;
  }
}
