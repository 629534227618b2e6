// The transport's controls: their enabled state and images as the playback leaves
// them, the skip buttons held down, and a click or drag on the waveform turned
// into a seek.
#include <windows.h>

#include "engine/session.h"
#include "playback/playback_state.h"
#include "playback/sequential.h"
#include "playback/transport.h"
#include "playback/window_hooks.h"
#include "win32/scoped_lock.h"
#include "window/main_window.h"

namespace {

// Ticks of the 100 ms repeat timer a skip button must be held before it repeats.
constexpr uint32_t kRepeatDelayTicks = 5;

void SetButtonImage(HWND window, int id, TransportImage image) {
  const MainWindow* w = MainWindowOf(window);
  SendDlgItemMessageA(window, id, BM_SETIMAGE, IMAGE_BITMAP,
                      reinterpret_cast<LPARAM>(w ? w->images[image] : nullptr));
}

}  // namespace

void ShowPreparingControls(HWND window) {
  EnableControl(window, IDC_STOP, true);
  SetButtonImage(window, IDC_PLAY_OR_STOP, kImageStop);
}

void ShowIdleControls(HWND window) {
  // While a file the user asked for is prepared, and while its start goes on with
  // the prepared file, Stop stays the way to end that work: never grey between the two.
  const MainWindow* w = MainWindowOf(window);
  if (w && ((w->preparation && !w->streaming) || w->finishingStart)) {
    ShowPreparingControls(window);
  } else {
    EnableControl(window, IDC_STOP, false);
    SetButtonImage(window, IDC_PLAY_OR_STOP, kImagePlay);
  }
  SetDlgItemTextA(window, IDC_PAUSE, "P&ause");
  SetButtonImage(window, IDC_PAUSE, kImagePause);
  EnableControl(window, IDC_PAUSE, false);
  EnableControl(window, IDC_DETAIL, false);
  EnableControl(window, IDC_BACKWARD, false);
  EnableControl(window, IDC_FORWARD, false);
  EnableControl(window, IDC_TEMPO_CHECK, true);
  EnableControl(window, IDC_TEMPO, true);
}

void ShowPlayingControls(HWND window, bool isRex) {
  const MainWindow* w = MainWindowOf(window);
  EnableControl(window, IDC_STOP, true);
  SetDlgItemTextA(window, IDC_PAUSE, "P&ause");
  SendDlgItemMessageA(window, IDC_PAUSE, BM_SETIMAGE, IMAGE_BITMAP,
                      reinterpret_cast<LPARAM>(w ? w->images[kImagePause] : nullptr));
  EnableControl(window, IDC_PAUSE, true);
  EnableControl(window, IDC_DETAIL, true);
  EnableControl(window, IDC_BACKWARD, true);
  EnableControl(window, IDC_FORWARD, true);
  EnableControl(window, IDC_REWIND, true);
  EnableControl(window, IDC_TEMPO_CHECK, isRex);
  EnableControl(window, IDC_TEMPO, isRex);
  SendDlgItemMessageA(window, IDC_PLAY_OR_STOP, BM_SETIMAGE, IMAGE_BITMAP,
                      reinterpret_cast<LPARAM>(w ? w->images[kImageStop] : nullptr));
}

int SeekFromPoint(HWND window, POINT point, PlayerSession& session) {
  HWND display = GetDlgItem(window, IDC_WAVEFORM);
  RECT area;
  GetClientRect(display, &area);
  MapWindowPoints(display, window, reinterpret_cast<POINT*>(&area), 2);
  if (GetCapture() == window) {
    if (point.x < area.left) point.x = area.left;
    if (point.x > area.right - 1) point.x = area.right - 1;
    if (point.y < area.top) point.y = area.top;
    if (point.y > area.bottom - 1) point.y = area.bottom - 1;
  }
  ScopedLock lock(session.lock);
  const MainWindow* w = MainWindowOf(window);
  if (!session.sourceFile || (!session.output && !(w && w->deviceWait)) || !PtInRect(&area, point) ||
      area.right <= area.left) {
    return 0;
  }
  GoBackToLeftFile(session);  // the overview shown is the left file's
  const uint64_t target = static_cast<uint64_t>(point.x - area.left) * session.totalFrames /
                          static_cast<uint64_t>(area.right - area.left);
  SeekTo(static_cast<uint32_t>(target), session, window);
  return 1;
}

void RepeatHeldButtons(HWND window) {
  MainWindow* w = MainWindowOf(window);
  if (!w) return;
  struct Held {
    int id;
    uint32_t* counter;
    void (*skip)(HWND);
  } const buttons[] = {{IDC_FORWARD, &w->forwardRepeat, SkipForward},
                       {IDC_BACKWARD, &w->backwardRepeat, SkipBack}};
  for (const Held& b : buttons) {
    const LRESULT state = SendMessageA(ControlOf(window, b.id), BM_GETSTATE, 0, 0);
    if ((state & BST_PUSHED) && (state & BST_FOCUS)) {
      if (*b.counter < kRepeatDelayTicks) ++*b.counter;
      if (*b.counter == kRepeatDelayTicks) b.skip(window);
    } else {
      *b.counter = 0;
    }
  }
}

void ShowPauseState(HWND window, bool paused) {
  SetDlgItemTextA(window, IDC_PAUSE, paused ? "Rest&art" : "P&ause");
  SetButtonImage(window, IDC_PAUSE, paused ? kImageRestart : kImagePause);
}

void ShowAwaitingControls(HWND window) {
  EnableControl(window, IDC_STOP, true);
  EnableControl(window, IDC_PAUSE, true);
  SetButtonImage(window, IDC_PLAY_OR_STOP, kImageStop);
}

void ShowNoPlace(HWND window) {
  SetDlgItemTextA(window, IDC_TIME, kTimeUnknown);
  EnableControl(window, IDC_REWIND, false);
}

void ShowNothingToStop(HWND window) {
  EnableControl(window, IDC_STOP, false);
  SetButtonImage(window, IDC_PLAY_OR_STOP, kImagePlay);
}
