// The main dialog's procedure: one small handler per message or command, each
// routing to the operations of open-and-start, the transport and the status texts.
// The Stop button's enabled state is the one record of whether something plays.
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <new>

#include "controls/glyph_display.h"
#include "devices/output_devices.h"
#include "engine/feeder.h"
#include "engine/session.h"
#include "player/history.h"
#include "player/converter_progress.h"
#include "player/main_window.h"
#include "player/playback_rules.h"
#include "player/preparation.h"
#include "settings/settings.h"
#include "waveform/waveform_display.h"
#include "win32/scoped_lock.h"

namespace {

const char kMsgFeederFailed[] = "Unable to initialize the some Windows objects.";
const char kMsgReadError[] = "File reading error on the WAVE file.";
const char kTimeUnknown[] = "--'--.-";
constexpr INT_PTR kFeederFailedResult = 2;
// Where a context menu asked for with the keyboard appears, inside the window.
constexpr int kKeyboardMenuOffset = 16;

constexpr int kBufferLengthSpinMax = 32767;
constexpr int kBufferCountSpinMax = 99;
constexpr int kTempoMin = 20;
constexpr int kTempoMax = 450;
constexpr LPARAM kVolumePageX10 = 60;
constexpr LPARAM kVolumeMinX10 = -480;
constexpr LPARAM kVolumeMaxX10 = 120;

HINSTANCE InstanceOf(HWND window) {
  return reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
}

bool IsPlaying(HWND window) { return IsWindowEnabled(GetDlgItem(window, IDC_STOP)) != FALSE; }

bool HasFileName(HWND window) { return GetWindowTextLengthA(GetDlgItem(window, IDC_FILE_NAME)) > 0; }

// Loads one or two images at the button's size (client height × percent ÷ 100),
// sets the first as the button's image and stores both. False when a load fails.
bool LoadButtonBitmaps(HWND window, int button, int resource, int percent, HBITMAP* place,
                       int secondResource = 0, HBITMAP* secondPlace = nullptr) {
  RECT client;
  GetClientRect(GetDlgItem(window, button), &client);
  const int side = (client.bottom - client.top) * percent / 100;
  const HINSTANCE instance = InstanceOf(window);
  *place = static_cast<HBITMAP>(LoadImageA(instance, MAKEINTRESOURCEA(resource), IMAGE_BITMAP, side,
                                           side, LR_LOADMAP3DCOLORS));
  if (!*place) return false;
  SendDlgItemMessageA(window, button, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(*place));
  if (secondPlace) {
    *secondPlace = static_cast<HBITMAP>(LoadImageA(instance, MAKEINTRESOURCEA(secondResource),
                                                   IMAGE_BITMAP, side, side, LR_LOADMAP3DCOLORS));
    if (!*secondPlace) return false;
  }
  return true;
}

void LoadTransportImages(HWND window, MainWindow* w) {
  constexpr int kPlayPercent = 40;
  constexpr int kSmallPercent = 60;
  HBITMAP* images = w->images;
  LoadButtonBitmaps(window, IDC_PLAY_OR_STOP, IDB_PLAY, kPlayPercent, &images[kImagePlay], IDB_STOP,
                    &images[kImageStop]);
  LoadButtonBitmaps(window, IDC_REWIND, IDB_REWIND, kSmallPercent, &images[kImageRewind]);
  LoadButtonBitmaps(window, IDC_PAUSE, IDB_PAUSE, kSmallPercent, &images[kImagePause], IDB_RESTART,
                    &images[kImageRestart]);
  LoadButtonBitmaps(window, IDC_BACKWARD, IDB_BACKWARD, kSmallPercent, &images[kImageBackward]);
  LoadButtonBitmaps(window, IDC_FORWARD, IDB_FORWARD, kSmallPercent, &images[kImageForward]);
}

void SetRanges(HWND window) {
  SendDlgItemMessageA(window, IDC_BUFFER_LENGTH_SPIN, UDM_SETRANGE32, 0, kBufferLengthSpinMax);
  SendDlgItemMessageA(window, IDC_BUFFER_COUNT_SPIN, UDM_SETRANGE32, 0, kBufferCountSpinMax);
  SendDlgItemMessageA(window, IDC_TEMPO_SPIN, UDM_SETRANGE32, kTempoMin, kTempoMax);
  SendDlgItemMessageA(window, IDC_VOLUME, TBM_SETRANGEMIN, TRUE, kVolumeMinX10);
  SendDlgItemMessageA(window, IDC_VOLUME, TBM_SETRANGEMAX, TRUE, kVolumeMaxX10);
  SendDlgItemMessageA(window, IDC_VOLUME, TBM_SETPAGESIZE, 0, kVolumePageX10);
  // Some track bars (Wine's) place the thumb anew only when the position changes,
  // not when the range does: the new control's position is already 0, so without a
  // change the thumb stayed where 0 was in the default range 0 to 100, the left end.
  SendDlgItemMessageA(window, IDC_VOLUME, TBM_SETPOS, TRUE, kVolumeMinX10);
  SendDlgItemMessageA(window, IDC_VOLUME, TBM_SETPOS, TRUE, 0);
}

bool SelectedDeviceIsMapped(HWND window) {
  const LRESULT selection = SendDlgItemMessageA(window, IDC_DEVICE, CB_GETCURSEL, 0, 0);
  const LRESULT data = SendDlgItemMessageA(window, IDC_DEVICE, CB_GETITEMDATA, selection, 0);
  return static_cast<uint32_t>(data) != kWaveMapperIndex;
}

void PostStart(HWND window) {
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_START, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_START)));
}

void RememberSelected(HWND window) {
  RememberFile(GetDlgItem(window, IDC_FILE_NAME), RememberMode::kSelect);
}

BOOL OnInitDialog(HWND window, const MainWindowStart* start) {
  SetWindowTextA(window, kAppCaption);
  MainWindow* w = new (std::nothrow) MainWindow{};
  if (!w || !start || !start->session) {
    delete w;
    MessageBoxA(window, kMsgFeederFailed, kAppCaption, MB_OK | MB_ICONERROR);
    EndDialog(window, kFeederFailedResult);
    return TRUE;
  }
  w->session = start->session;
  w->showAbout = start->showAbout;
  if (start->startupFile) std::snprintf(w->startupFile, sizeof w->startupFile, "%s", start->startupFile);
  SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(w));
  const auto startFeeder = start->startFeeder ? start->startFeeder : StartFeederThread;
  if (!startFeeder(*w->session)) {
    MessageBoxA(window, kMsgFeederFailed, kAppCaption, MB_OK | MB_ICONERROR);
    EndDialog(window, kFeederFailedResult);
    return TRUE;
  }
  w->session->window = window;
  w->waveformControl = GetDlgItem(window, IDC_WAVEFORM);
  w->timeControl = GetDlgItem(window, IDC_TIME);
  w->statusControl = GetDlgItem(window, IDC_STATUS);
  w->detailControl = GetDlgItem(window, IDC_DETAIL);
  w->forwardButton = GetDlgItem(window, IDC_FORWARD);
  w->backwardButton = GetDlgItem(window, IDC_BACKWARD);
  AttachSignalPathTips(window);
  w->detailsShown = true;
  ShowDetails(window, false);
  w->waveform = CreateWaveformDisplay(w->waveformControl);
  // Without the record the control stays a plain static showing the same text.
  GlyphDisplay* glyphs = new (std::nothrow) GlyphDisplay{};
  if (glyphs && !AttachGlyphDisplay(glyphs, w->timeControl, InstanceOf(window))) {
    delete glyphs;
    glyphs = nullptr;
  }
  w->glyphs = glyphs;
  SetDlgItemTextA(window, IDC_TIME, kTimeUnknown);
  AppendMenuA(GetSystemMenu(window, FALSE), MF_STRING, IDM_ABOUT, "&About ZEMBRIX Player");
  LoadTransportImages(window, w);
  SetRanges(window);
  LoadSettings(window);
  UpdateVolume(*w->session, window);
  EnableControl(window, IDC_START, HasFileName(window));
  FillOutputDeviceList(window);
  EnableControl(window, IDC_MAPPED, SelectedDeviceIsMapped(window));
  w->settingsLoaded = true;
  if (w->startupFile[0]) {
    SetDlgItemTextA(window, IDC_FILE_NAME, w->startupFile);
    RememberFile(GetDlgItem(window, IDC_FILE_NAME), RememberMode::kMoveToTop);
    EnableControl(window, IDC_START, true);
    PostStart(window);
  }
  BOOL defaultFocus = TRUE;
  if (HasFileName(window)) {
    SetFocus(GetDlgItem(window, IDC_PLAY_OR_STOP));
    defaultFocus = FALSE;
  }
  // A second start waiting on the mutex may now find this window and hand over.
  if (start->initialised) start->initialised();
  return defaultFocus;
}

void ShowAbout(HWND window, const MainWindow* w) {
  if (w->showAbout) w->showAbout(InstanceOf(window), window);
}

void StopUnderLock(HWND window, PlayerSession& session) {
  ScopedLock lock(session.lock);
  StopPlayback(window, session);
}

// Ends a conversion or REX render a start is waiting for: nothing of it plays.
// A file that plays while its converter writes cannot go on without it.
void CancelPreparing(HWND window, MainWindow* w) {
  if (!w->preparation) return;
  KillTimer(window, TIMER_PREPARATION);
  if (w->streaming) StopUnderLock(window, *w->session);
  w->streaming = false;
  // Renders abandoned earlier that have returned since need no wait at the end.
  auto& renders = w->abandonedRenders;
  for (size_t i = renders.size(); i-- > 0;) {
    if (WaitForSingleObject(renders[i], 0) != WAIT_OBJECT_0) continue;
    CloseHandle(renders[i]);
    renders.erase(renders.begin() + static_cast<std::ptrdiff_t>(i));
  }
  if (HANDLE render = CancelPreparation(w->preparation)) renders.push_back(render);
  w->preparation = nullptr;
  SetStatus(window, "");  // the progress of work that no longer goes on
}

// Stop, from the user: the work a start waits for and the playback.
void StopAll(HWND window, MainWindow* w) {
  CancelPreparing(window, w);
  StopUnderLock(window, *w->session);
  w->awaitedDevice[0] = L'\0';  // Stop gives up waiting for a device
}

// A start that failed before a device was opened (sequential play named the
// device still away as awaited) waits for nothing: a later failing open is
// reported, not silently waited for.
void ForgetAwaitedDeviceAfterFailedStart(MainWindow* w, int started) {
  if (!started && !w->deviceWait) w->awaitedDevice[0] = L'\0';
}

int StartUnderLock(HWND window, PlayerSession& session, uint32_t startFrame) {
  MainWindow* w = MainWindowOf(window);
  CancelPreparing(window, w);
  ScopedLock lock(session.lock);
  const int started = OpenAndStart(window, session, startFrame);
  ForgetAwaitedDeviceAfterFailedStart(w, started);
  return started;
}

// The converter has written the first of its output: the start goes on with it
// while the converter writes the rest.
void OnPreparationReady(HWND window, MainWindow* w, WPARAM serial) {
  if (!w->preparation || PreparationSerial(w->preparation) != serial || w->streaming) return;
  const PreparationRequest request = PreparationRequestOf(w->preparation);
  w->finishingStart = true;
  int started;
  {
    ScopedLock lock(w->session->lock);
    started = StartStreamedConversion(window, *w->session, request, &w->streamedOverviewBytes);
  }
  w->finishingStart = false;
  if (started != 1) {  // its message has been shown: the conversion is of no use
    ForgetAwaitedDeviceAfterFailedStart(w, 0);
    CancelPreparing(window, w);
    if (!w->session->output) {
      EnableControl(window, IDC_STOP, false);
      SendDlgItemMessageA(window, IDC_PLAY_OR_STOP, BM_SETIMAGE, IMAGE_BITMAP,
                          reinterpret_cast<LPARAM>(w->images[kImagePlay]));
    }
    return;
  }
  w->streaming = true;
  char text[kPathCapacity] = "";
  GetDlgItemTextA(window, IDC_FILE_NAME, text, sizeof text);
  if (lstrcmpiA(text, request.source) == 0) RememberSelected(window);
}

// The preparation job ended by itself: the start goes on with its file, or the
// file that plays while it was written gets its true length.
void OnPreparationDone(HWND window, MainWindow* w, WPARAM serial) {
  if (!w->preparation || PreparationSerial(w->preparation) != serial) return;  // cancelled meanwhile
  KillTimer(window, TIMER_PREPARATION);
  PreparationRequest request;
  const bool succeeded = FinishPreparation(w->preparation, &request);
  w->preparation = nullptr;
  if (w->streaming) {
    w->streaming = false;
    ScopedLock lock(w->session->lock);
    // Nothing of it plays any more (a device error stopped it): the file is ours to delete.
    if (!FinishStreamedConversion(window, *w->session, succeeded, request)) DeleteFileA(request.target);
    return;
  }
  w->finishingStart = true;
  int started;
  {
    ScopedLock lock(w->session->lock);
    started = FinishPreparedStart(window, *w->session, succeeded, request);
    // Stop stood for the work; with nothing playing it goes back.
    if (!started && !w->session->output) {
      EnableControl(window, IDC_STOP, false);
      SendDlgItemMessageA(window, IDC_PLAY_OR_STOP, BM_SETIMAGE, IMAGE_BITMAP,
                          reinterpret_cast<LPARAM>(w->images[kImagePlay]));
    }
  }
  w->finishingStart = false;
  ForgetAwaitedDeviceAfterFailedStart(w, started);
  char text[kPathCapacity] = "";
  GetDlgItemTextA(window, IDC_FILE_NAME, text, sizeof text);
  if (started && lstrcmpiA(text, request.source) == 0) RememberSelected(window);
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

void OnDeviceChanged(HWND window, PlayerSession& session) {
  EnableControl(window, IDC_MAPPED, SelectedDeviceIsMapped(window));
  if (!IsPlaying(window)) return;
  StopUnderLock(window, session);
  StartUnderLock(window, session, kResumePosition);
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
      session.loopFlag = IsLoopMode(window) ? 1 : 0;  // a single byte, written without the lock
      {  // the next entry is looked at again, by the rule now in force
        ScopedLock lock(session.lock);
        if (session.following.file) CloseHandle(session.following.file);
        session.following = FollowingWave{};
        w->followingTried = false;
      }
      break;
    case IDC_TEMPO_CHECK:
      EnableControl(window, IDC_TEMPO, IsDlgButtonChecked(window, IDC_TEMPO_CHECK) == BST_CHECKED);
      break;
    case IDC_LINEAR_RMS:
      OnLinearRms(window, lParam);
      break;
    case IDC_REWIND:
      Rewind(window);
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
    case TIMER_POSITION: {
      ScopedLock lock(w->session->lock);
      UpdatePosition(window, *w->session);
      QueueFollowingWave(window, *w->session);
      break;
    }
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

void OnShutdown(HWND window, MainWindow* w) {
  StopAll(window, w);
  // A cancelled REX render ends when the library returns, and deletes its file then.
  for (HANDLE render : w->abandonedRenders) {
    WaitForSingleObject(render, INFINITE);
    CloseHandle(render);
  }
  w->abandonedRenders.clear();
  StopFeederThread(*w->session);
  if (w->settingsLoaded) SaveSettings(window);
  if (w->waveform) {
    DestroyWaveformDisplay(w->waveform);
    w->waveform = nullptr;
  }
  if (w->glyphs) {
    DetachGlyphDisplay(w->glyphs);
    delete w->glyphs;
    w->glyphs = nullptr;
  }
}

void OnFinalDestroy(HWND window, MainWindow* w) {
  SetWindowLongPtrA(window, DWLP_USER, 0);
  for (HBITMAP& image : w->images) {
    if (image) DeleteObject(image);
    image = nullptr;
  }
  delete w;
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
      StopUnderLock(window, *w->session);
      ShowWarning(window, kMsgReadError);
      return TRUE;
    case MSG_FEEDER_WRITE_ERROR:
      if (lParam == MMSYSERR_NODRIVER || lParam == MMSYSERR_BADDEVICEID) {  // the device is gone
        ReportStoppedDevice(window, *w->session);
        return TRUE;
      }
      StopUnderLock(window, *w->session);
      ShowMmError(window, "waveOutWrite()", static_cast<uint32_t>(lParam));
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

ATOM RegisterPlayerWindowClass(HINSTANCE instance) {
  WNDCLASSEXA wc{};
  wc.cbSize = sizeof wc;
  // The system dialog class, by its atom name.
  if (!GetClassInfoExA(nullptr, "#32770", &wc)) return 0;
  wc.style &= ~static_cast<UINT>(CS_GLOBALCLASS);
  wc.hInstance = instance;
  wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_PROGRAM));
  wc.lpszClassName = PLAYER_WINDOW_CLASS;
  return RegisterClassExA(&wc);
}

INT_PTR RunMainDialog(HINSTANCE instance, const MainWindowStart& start) {
  return DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc,
                         reinterpret_cast<LPARAM>(&start));
}
