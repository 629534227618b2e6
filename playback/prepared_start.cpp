// A start from the window and the conversion or REX render it may wait for: the
// job cancelled by Stop or by another start, and the start going on once the job
// tells the window its file is ready or written.
#include "playback/prepared_start.h"

#include "engine/session.h"
#include "playback/open_and_start.h"
#include "playback/playback_state.h"
#include "playback/stop.h"
#include "playback/streamed_conversion.h"
#include "playback/window_hooks.h"
#include "sources/preparation.h"
#include "win32/scoped_lock.h"

namespace {

// A start that failed before a device was opened (sequential play named the
// device still away as awaited) waits for nothing: a later failing open is
// reported, not silently waited for.
void ForgetAwaitedDeviceAfterFailedStart(PlaybackState* w, int started) {
  if (!started && !w->deviceWait) w->awaitedDevice[0] = L'\0';
}

}  // namespace

// Ends a conversion or REX render a start is waiting for: nothing of it plays.
// A file that plays while its converter writes cannot go on without it.
void CancelPreparing(HWND window, PlaybackState* w) {
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
void StopAll(HWND window, PlaybackState* w) {
  CancelPreparing(window, w);
  StopUnderLock(window, *w->session);
  w->awaitedDevice[0] = L'\0';  // Stop gives up waiting for a device
}

int StartUnderLock(HWND window, PlayerSession& session, uint32_t startFrame) {
  PlaybackState* w = PlaybackOf(window);
  CancelPreparing(window, w);
  ScopedLock lock(session.lock);
  const int started = OpenAndStart(window, session, startFrame);
  ForgetAwaitedDeviceAfterFailedStart(w, started);
  return started;
}

// The converter has written the first of its output: the start goes on with it
// while the converter writes the rest.
void OnPreparationReady(HWND window, PlaybackState* w, WPARAM serial) {
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
    if (!w->session->output) ShowNothingToStop(window);
    return;
  }
  w->streaming = true;
  RememberStartedFile(window, request.source);
}

// The preparation job ended by itself: the start goes on with its file, or the
// file that plays while it was written gets its true length.
void OnPreparationDone(HWND window, PlaybackState* w, WPARAM serial) {
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
    if (!started && !w->session->output) ShowNothingToStop(window);
  }
  w->finishingStart = false;
  ForgetAwaitedDeviceAfterFailedStart(w, started);
  if (started) RememberStartedFile(window, request.source);
}

void WaitForAbandonedRenders(PlaybackState* w) {
  // A cancelled REX render ends when the library returns, and deletes its file then.
  for (HANDLE render : w->abandonedRenders) {
    WaitForSingleObject(render, INFINITE);
    CloseHandle(render);
  }
  w->abandonedRenders.clear();
}

void PlayOnSelectedDevice(HWND window, PlayerSession& session) {
  StopUnderLock(window, session);
  StartUnderLock(window, session, kResumePosition);
}
