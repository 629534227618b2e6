// The operations that change a running playback: pause and restart, seek to a
// frame, the 5-second skips, rewind, and the end of a file with sequential play
// through the history.
#include "playback/transport.h"

#include <cstdint>

#include "dsp/sample_format.h"
#include "engine/feeder.h"
#include "engine/output_handle.h"
#include "engine/session.h"
#include "playback/device_wait.h"
#include "playback/output_ring.h"
#include "playback/playback_rules.h"
#include "playback/playback_state.h"
#include "playback/position.h"
#include "playback/sequential.h"
#include "playback/stop.h"
#include "playback/window_hooks.h"
#include "resources/resource_ids.h"
#include "win32/scoped_lock.h"

namespace {

void Skip(HWND window, bool forward) {
  PlaybackState* w = PlaybackOf(window);
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
    ShowPauseState(window, false);
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
  ShowPauseState(window, true);
  return 1;
}

void SeekTo(uint32_t targetFrame, PlayerSession& session, HWND window) {
  ScopedLock lock(session.lock);
  const PlaybackState* w = PlaybackOf(window);
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

void SkipBack(HWND window) { Skip(window, false); }
void SkipForward(HWND window) { Skip(window, true); }

void Rewind(HWND window, bool playing) {
  PlaybackState* w = PlaybackOf(window);
  if (!w) return;
  if (playing) {
    SeekTo(0, *w->session, window);
    return;
  }
  w->resumePosition = 0;
  ShowNoPlace(window);
}

void HandleEndOfPlay(HWND window) {
  PlaybackState* w = PlaybackOf(window);
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
  const LRESULT next = NextSequentialEntry(window);
  if (next < 0) return;
  AwaitDeviceIfTheNextOpenFails(window);
  StartListEntry(window, next);
}

void FollowPlayingPosition(HWND window, PlayerSession& session) {
  ScopedLock lock(session.lock);
  UpdatePosition(window, session);
  QueueFollowingWave(window, session);
}
