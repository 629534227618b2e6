// The operations that change a running playback: stop, pause and restart, seek to
// a frame or to a point of the waveform, the 5-second skips and their button
// repeat, rewind, and the end of a file with sequential play through the history.
#include <cstdint>

#include "engine/feeder.h"
#include "engine/output_handle.h"
#include "engine/session.h"
#include "player/main_window.h"
#include "player/playback_rules.h"
#include "waveform/waveform_display.h"
#include "win32/scoped_lock.h"

namespace {

const char kTimeUnknown[] = "--'--.-";
// Ticks of the 100 ms repeat timer a skip button must be held before it repeats.
constexpr uint32_t kRepeatDelayTicks = 5;

void PurgeMessages(HWND window, UINT first, UINT last) {
  MSG message;
  while (PeekMessageA(&message, window, first, last, PM_REMOVE)) {
  }
}

void SetButtonImage(HWND window, int id, TransportImage image) {
  const MainWindow* w = MainWindowOf(window);
  SendDlgItemMessageA(window, id, BM_SETIMAGE, IMAGE_BITMAP,
                      reinterpret_cast<LPARAM>(w ? w->images[image] : nullptr));
}

// Gives every buffer of the ring back to the feeder, from the first.
void HandAllBuffersOver(PlayerSession& session) {
  session.bytesQueued = 0;
  session.ringIndex = 0;
  session.pendingCount = 0;
  for (uint32_t i = 0; i < session.bufferCount; ++i) {
    session.bufferFileSerial[i] = 0;
    if (!session.headers[i]) continue;
    session.headers[i]->dwFlags |= WHDR_DONE;
    ++session.pendingCount;
    SetEvent(session.bufferDoneEvent);
  }
}

// Unprepares and frees every slot of the ring that holds a block.
void ReleaseBuffers(PlayerSession& session) {
  for (uint32_t i = 0; i < kMaxOutputBuffers; ++i) {
    if (!session.headerBlocks[i]) continue;
    WAVEHDR* header = session.headers[i];
    if (header && (header->dwFlags & WHDR_PREPARED) && session.output) {
      OutputUnprepare(session.output, header);
    }
    if (session.bufferBlocks[i]) {
      if (header && header->lpData) {
        GlobalUnlock(session.bufferBlocks[i]);
        header->lpData = nullptr;
      }
      GlobalFree(session.bufferBlocks[i]);
      session.bufferBlocks[i] = nullptr;
    }
    if (header) GlobalUnlock(session.headerBlocks[i]);
    GlobalFree(session.headerBlocks[i]);
    session.headerBlocks[i] = nullptr;
    session.headers[i] = nullptr;
  }
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

}  // namespace

void ShowPreparingControls(HWND window) {
  EnableControl(window, IDC_STOP, true);
  SetButtonImage(window, IDC_PLAY_OR_STOP, kImageStop);
}

namespace {

void Skip(HWND window, bool forward) {
  MainWindow* w = MainWindowOf(window);
  if (!w) return;
  PlayerSession& session = *w->session;
  uint32_t target;
  {
    ScopedLock lock(session.lock);
    // While the device is awaited the kept place is the position.
    if ((!w->deviceWait && (!UpdatePosition(window, session) || !session.output)) || !session.sourceFile ||
        session.format.IsEmpty() || session.format.SampleRate() == 0) {
      return;
    }
    const uint32_t rate = session.format.SampleRate();
    target = forward ? SkipForwardTarget(w->resumePosition, rate) : SkipBackTarget(w->resumePosition, rate);
  }
  SeekTo(target, session, window);
}

}  // namespace

void CloseOutput(HWND window, PlayerSession& session) {
  if (session.output) {
    OutputReset(session.output);
    PurgeMessages(window, MM_WOM_DONE, MM_WOM_DONE);
  }
  ReleaseBuffers(session);
  if (session.output) {
    if (OutputClose(session.output) == MMSYSERR_NOERROR) {
      SetStatus(window, "waveOutClose() is OK");
    } else {
      SetStatus(window, "ERROR !!! waveOutClose()");
    }
    session.output = nullptr;
  }
}

int StopPlayback(HWND window, PlayerSession& session) {
  ScopedLock lock(session.lock);
  KillTimer(window, TIMER_BUTTON_REPEAT);
  KillTimer(window, TIMER_END_OF_PLAY);
  KillTimer(window, TIMER_POSITION);
  KillTimer(window, TIMER_DEVICE_RETRY);
  if (MainWindow* w = MainWindowOf(window)) {
    if (w->deviceWait) SetDlgItemTextA(window, IDC_FORMAT, w->formatBeforeWait);
    w->deviceWait = false;
    w->overviewPath[0] = '\0';
  }
  // The last position first: it may show the following file as heard, which loads
  // its overview, and the overview is cleared after that.
  if (session.output) UpdatePosition(window, session);
  SendDlgItemMessageA(window, IDC_WAVEFORM, WDM_LOADFILE, 0, 0);
  SendDlgItemMessageA(window, IDC_WAVEFORM, WDM_SETRANGE, 0, 0);
  SendDlgItemMessageA(window, IDC_WAVEFORM, WDM_SETPOS, 0, 0);
  session.paused = 0;
  CloseOutput(window, session);
  session.format.Release();
  if (session.sourceFile) {
    CloseHandle(session.sourceFile);  // a temporary file goes with it
    session.sourceFile = nullptr;
  }
  session.growing = 0;
  session.awaitingData = 0;
  for (HANDLE* file : {&session.following.file, &session.leftFile, &session.joinFile}) {
    if (*file) CloseHandle(*file);
    *file = nullptr;
  }
  ShowIdleControls(window);
  PurgeMessages(window, kFeederMessageFirst, kFeederMessageLast);
  ResetEvent(session.bufferDoneEvent);
  return 1;
}

int TogglePause(HWND window, PlayerSession& session) {
  ScopedLock lock(session.lock);
  if (PauseWhileAwaitingDevice(window, session)) return 1;
  if (session.paused) {
    SetStatus(window, "Calling waveOutRestart()");
    const uint32_t result = session.output ? OutputRestart(session.output) : MMSYSERR_INVALHANDLE;
    if (result != MMSYSERR_NOERROR) {
      ShowMmError(window, "waveOutRestart()", result);
      return 0;
    }
    SetStatus(window, "waveOutRestart() is OK");
    session.paused = 0;
    SetDlgItemTextA(window, IDC_PAUSE, "P&ause");
    SetButtonImage(window, IDC_PAUSE, kImagePause);
    return 1;
  }
  SetStatus(window, "Calling waveOutPause()");
  const uint32_t result = session.output ? OutputPause(session.output) : MMSYSERR_INVALHANDLE;
  if (result != MMSYSERR_NOERROR) {
    ShowMmError(window, "waveOutPause()", result);
    return 0;
  }
  SetStatus(window, "waveOutPause() is OK");
  session.paused = 1;
  SetDlgItemTextA(window, IDC_PAUSE, "Rest&art");
  SetButtonImage(window, IDC_PAUSE, kImageRestart);
  return 1;
}

// Before the change to the following file is heard, the window still shows the
// file left and a seek acts on it: the following file is put back as it was.
void GoBackToLeftFile(PlayerSession& session) {
  if (!session.leftFile) return;
  FollowingWave back{};
  back.file = session.sourceFile;
  back.dataOffset = session.dataOffset;
  back.dataSize = session.dataSize;
  back.totalFrames = session.totalFrames;
  back.historyIndex = session.enteredHistoryIndex;
  lstrcpynA(back.path, session.enteredPath, sizeof back.path);
  LARGE_INTEGER to;
  to.QuadPart = back.dataOffset;
  SetFilePointerEx(back.file, to, nullptr, FILE_BEGIN);
  session.following = back;
  session.sourceFile = session.leftFile;
  session.dataOffset = session.leftDataOffset;
  session.dataSize = session.leftDataSize;
  session.totalFrames = session.leftTotalFrames;
  session.leftFile = nullptr;
}

void SeekTo(uint32_t targetFrame, PlayerSession& session, HWND window) {
  ScopedLock lock(session.lock);
  const MainWindow* w = MainWindowOf(window);
  const bool awaiting = w && w->deviceWait;
  if (!session.sourceFile || (!session.output && !awaiting)) return;
  GoBackToLeftFile(session);
  if (targetFrame >= session.totalFrames) {
    if (!IsLoopMode(window)) {
      HandleEndOfPlay(window);
      return;
    }
    targetFrame = 0;
  }
  if (MoveAwaitedPlace(window, session, targetFrame)) return;
  uint32_t offset = FramesToByteOffset(session.format, targetFrame);
  if (offset > session.dataSize) offset = session.dataSize;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(session.dataOffset) + offset;
  SetFilePointerEx(session.sourceFile, to, nullptr, FILE_BEGIN);
  session.remainingBytes = session.dataSize - offset;

  // Paused while the ring is handed over, so the device starts on the first new
  // buffer rather than on whichever the feeder writes first.
  OutputReset(session.output);
  OutputPause(session.output);
  PurgeMessages(window, MM_WOM_DONE, MM_WOM_DONE);
  if (session.paused) OutputPause(session.output);
  KillTimer(window, TIMER_END_OF_PLAY);
  if (session.joinFile) CloseHandle(session.joinFile);
  session.joinFile = nullptr;
  // An end notice the feeder posted for the old position no longer holds.
  PurgeMessages(window, MSG_FEEDER_END, MSG_FEEDER_END);
  HandAllBuffersOver(session);
  if (!session.paused) OutputRestart(session.output);
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

void SkipBack(HWND window) { Skip(window, false); }
void SkipForward(HWND window) { Skip(window, true); }

void Rewind(HWND window) {
  MainWindow* w = MainWindowOf(window);
  if (!w) return;
  if (IsWindowEnabled(GetDlgItem(window, IDC_STOP))) {
    SeekTo(0, *w->session, window);
    return;
  }
  w->resumePosition = 0;
  SetDlgItemTextA(window, IDC_TIME, kTimeUnknown);
  EnableControl(window, IDC_REWIND, false);
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

LRESULT NextSequentialEntry(HWND window) {
  HWND box = GetDlgItem(window, IDC_FILE_NAME);
  const LRESULT count = SendMessageA(box, CB_GETCOUNT, 0, 0);
  if (count == CB_ERR || count < 2) return -1;
  const LRESULT selection = SendMessageA(box, CB_GETCURSEL, 0, 0);
  LRESULT next = selection + 1;
  if (selection == CB_ERR || next == count) {
    if (IsDlgButtonChecked(window, IDC_LOOP) != BST_CHECKED) return -1;
    next = 0;
  }
  return next;
}

void HandleEndOfPlay(HWND window) {
  MainWindow* w = MainWindowOf(window);
  if (!w) return;
  KillTimer(window, TIMER_END_OF_PLAY);
  {
    ScopedLock lock(w->session->lock);
    StopPlayback(window, *w->session);
  }
  w->awaitedDevice[0] = L'\0';  // a device still away is waited for only by a start that follows
  // The file the user asked for is being converted: it plays when ready (Stop
  // stays to end the work), and sequential play does not move on past it.
  if (w->preparation && !w->streaming) return;
  if (IsDlgButtonChecked(window, IDC_SEQUENTIAL) != BST_CHECKED) return;
  HWND box = GetDlgItem(window, IDC_FILE_NAME);
  const LRESULT next = NextSequentialEntry(window);
  if (next < 0) return;
  AwaitDeviceIfTheNextOpenFails(window);
  SendMessageA(box, CB_SETCURSEL, next, 0);
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_FILE_NAME, CBN_SELCHANGE), reinterpret_cast<LPARAM>(box));
}
