// The main dialog's beginning and end: the controls filled and the settings loaded
// when it initialises, the session stopped and the settings saved when it goes,
// and its private window class.
#include "window/dialog_lifetime.h"

#include <commctrl.h>

#include <cstdio>
#include <new>

#include "controls/glyph_display.h"
#include "devices/output_devices.h"
#include "engine/feeder.h"
#include "engine/session.h"
#include "playback/prepared_start.h"
#include "settings/settings.h"
#include "waveform/waveform_display.h"
#include "window/history.h"

namespace {

const char kMsgFeederFailed[] = "Unable to initialize the some Windows objects.";
constexpr INT_PTR kFeederFailedResult = 2;

constexpr int kBufferLengthSpinMax = 32767;
constexpr int kBufferCountSpinMax = 99;
constexpr int kTempoMin = 20;
constexpr int kTempoMax = 450;
constexpr LPARAM kVolumePageX10 = 60;
constexpr LPARAM kVolumeMinX10 = -480;
constexpr LPARAM kVolumeMaxX10 = 120;

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

}  // namespace

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

void OnShutdown(HWND window, MainWindow* w) {
  StopAll(window, w);
  WaitForAbandonedRenders(w);
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
