// The stop: the whole session released in one pass, the file closed (a temporary
// file goes with it), the output and its ring, the files of sequential play.
#include "playback/stop.h"

#include "engine/output_handle.h"
#include "engine/session.h"
#include "playback/output_ring.h"
#include "playback/playback_state.h"
#include "playback/position.h"
#include "playback/window_hooks.h"
#include "win32/scoped_lock.h"

namespace {

const char kMsgReadError[] = "File reading error on the WAVE file.";

}  // namespace

int StopPlayback(HWND window, PlayerSession& session) {
  ScopedLock lock(session.lock);
  KillTimer(window, TIMER_BUTTON_REPEAT);
  KillTimer(window, TIMER_END_OF_PLAY);
  KillTimer(window, TIMER_POSITION);
  KillTimer(window, TIMER_DEVICE_RETRY);
  if (PlaybackState* w = PlaybackOf(window)) {
    if (w->deviceWait) EndDeviceWaitView(window);
    w->deviceWait = false;
    w->overviewPath[0] = '\0';
  }
  // The last position first: it may show the following file as heard, which loads
  // its overview, and the overview is cleared after that.
  if (session.output) UpdatePosition(window, session);
  ClearOverview(window);
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

void StopUnderLock(HWND window, PlayerSession& session) {
  ScopedLock lock(session.lock);
  StopPlayback(window, session);
}

void ReportReadError(HWND window, PlayerSession& session) {
  StopUnderLock(window, session);
  ShowWarning(window, kMsgReadError);
}
