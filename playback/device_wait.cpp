// A device that stops serving while a file plays (an audio server gone, a device
// pulled, an endpoint invalidated). The feeder stops and tells the window; the
// window keeps the place the device has not confirmed as heard, closes the output,
// holds the file there and looks for the same device twice a second by the name
// its entry in the device box shows: a device plugged in again may come back under
// another number. When it opens, a new ring starts from the kept place with the
// volume, loop, sequential and pause state as they were. Once the wait the settings
// allow has passed unpaused, the play stops with the stalled-device message.
#include "playback/device_wait.h"

#include <cstdio>

#include "devices/output_devices.h"
#include "dsp/sample_format.h"
#include "engine/feeder.h"
#include "engine/output_handle.h"
#include "engine/session.h"
#include "playback/output_ring.h"
#include "playback/playback_state.h"
#include "playback/position.h"
#include "playback/sequential.h"
#include "playback/stop.h"
#include "playback/window_hooks.h"
#include "resources/resource_ids.h"
#include "settings/settings.h"
#include "win32/scoped_lock.h"

namespace {

const char kMsgDeviceStalled[] = "The output device '%s' stopped responding.";

// The text of the device box's selected entry (empty when it has none or it does
// not fit), and whether it is the wave mapper's.
void SelectedEntry(HWND window, wchar_t (&name)[kDisplayNameChars], bool* mapper) {
  HWND box = GetDlgItem(window, IDC_DEVICE);
  name[0] = L'\0';
  *mapper = false;
  const LRESULT selection = SendMessageW(box, CB_GETCURSEL, 0, 0);
  if (selection == CB_ERR) return;
  *mapper = static_cast<uint32_t>(SendMessageW(box, CB_GETITEMDATA, selection, 0)) == kWaveMapperIndex;
  const LRESULT length = SendMessageW(box, CB_GETLBTEXTLEN, selection, 0);
  if (length == CB_ERR || length >= static_cast<LRESULT>(kDisplayNameChars) ||
      SendMessageW(box, CB_GETLBTEXT, selection, reinterpret_cast<LPARAM>(name)) == CB_ERR) {
    name[0] = L'\0';
  }
}

// Stops playback and shows the stalled-device message for `name`. The caller does
// not hold the lock: the box waits for the user.
void StopWithStalledMessage(HWND window, PlayerSession& session, const wchar_t* name) {
  char narrow[2 * kDisplayNameChars];
  NarrowDeviceName(name, narrow, sizeof narrow);
  if (PlaybackState* w = PlaybackOf(window)) w->awaitedDevice[0] = L'\0';
  {
    ScopedLock lock(session.lock);
    StopPlayback(window, session);
  }
  char text[sizeof narrow + sizeof kMsgDeviceStalled];
  std::snprintf(text, sizeof text, kMsgDeviceStalled, narrow);
  ShowWarning(window, text);
}

// Closes the output and leaves the session's file at the place not yet heard. In
// sequential play that place may lie in the file the feeder went on from: that
// file becomes the source again, the other one following it as before. False when
// the file cannot be positioned.
bool KeepPlaceNotYetHeard(HWND window, PlayerSession& session) {
  KeptPlace place = PlaceNotYetHeard(session);
  CloseOutput(window, session);
  if (place.serial != session.fileSerial) {
    if (place.serial + 1 == session.fileSerial && (session.leftFile || session.joinFile)) {
      if (!session.leftFile) {  // the change was heard: a file after it may be queued already
        DropFollowingWave(session);
        if (PlaybackState* w = PlaybackOf(window)) {
          w->followingTried = false;
          w->followingEntry = w->enteredEntry;  // what goes back to following
        }
        session.leftFile = session.joinFile;
        session.joinFile = nullptr;
      }
      GoBackToLeftFile(session);
    } else {
      place.byte = 0;  // a file two changes back is closed: this one from its start
    }
  }
  if (session.joinFile) CloseHandle(session.joinFile);
  session.joinFile = nullptr;
  const uint32_t block = session.format.BlockAlign();
  uint32_t byte = place.byte < session.dataSize ? place.byte : session.dataSize;
  if (block != 0) byte -= byte % block;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(session.dataOffset) + byte;
  if (!SetFilePointerEx(session.sourceFile, to, nullptr, FILE_BEGIN)) return false;
  session.remainingBytes = session.dataSize - byte;
  return true;
}

// The awaited device's index in today's list, found by its name; the box is filled
// again when the list has changed, keeping the entry chosen. False while it is absent.
bool FindAwaitedDevice(HWND window, const PlaybackState& w, uint32_t* device) {
  if (w.awaitedMapper) {
    *device = kWaveMapperIndex;
    return true;
  }
  // No output is open while the device is awaited: nothing reads the endpoint list
  // but this thread, which may enumerate it again to see a device that came back.
  ProcessEndpointCache().Release();
  const uint32_t total = WasapiDeviceCount() + waveOutGetNumDevs();
  for (uint32_t i = 0; i < total; ++i) {
    OutputDeviceCaps caps;
    if (GetOutputDeviceCaps(i, &caps) != MMSYSERR_NOERROR || lstrcmpW(caps.displayName, w.awaitedDevice) != 0) {
      continue;
    }
    ListDevicesAgain(window, total, w.awaitedDevice);
    *device = i;
    return true;
  }
  return false;
}

// The place the file goes on from becomes the place to resume from, and is shown.
void ResumeFromKeptPlace(HWND window, const PlayerSession& session, PlaybackState& w) {
  const uint32_t block = session.format.BlockAlign();
  const uint32_t frame = block ? (session.dataSize - session.remainingBytes) / block : 0;
  w.resumePosition = frame;
  ShowKeptPlace(window, frame, session.totalFrames, session.format.SampleRate());
}

}  // namespace

bool MoveAwaitedPlace(HWND window, PlayerSession& session, uint32_t frame) {
  PlaybackState* w = PlaybackOf(window);
  if (!w || !w->deviceWait || !session.sourceFile) return false;
  ScopedLock lock(session.lock);
  uint32_t byte = FramesToByteOffset(session.format, frame);
  if (byte > session.dataSize) byte = session.dataSize;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(session.dataOffset) + byte;
  if (SetFilePointerEx(session.sourceFile, to, nullptr, FILE_BEGIN)) session.remainingBytes = session.dataSize - byte;
  ResumeFromKeptPlace(window, session, *w);
  return true;
}

void AwaitDevice(HWND window, PlayerSession& session) {
  PlaybackState* w = PlaybackOf(window);
  if (!w) return;
  ScopedLock lock(session.lock);
  SelectedEntry(window, w->awaitedDevice, &w->awaitedMapper);
  if (!w->deviceWait) KeepFormatLine(window);
  w->deviceWait = true;
  w->waitSince = GetTickCount();
  w->waitMs = DeviceWaitSeconds() * 1000;
  KillTimer(window, TIMER_POSITION);
  KillTimer(window, TIMER_END_OF_PLAY);
  PurgeMessages(window, kFeederMessageFirst, kFeederMessageLast);  // what the feeder said of the ring that is gone
  SetTimer(window, TIMER_DEVICE_RETRY, kDeviceRetryPeriodMs, nullptr);

  ResumeFromKeptPlace(window, session, *w);
  ShowAwaitingControls(window);
  ShowDeviceWait(window, w->awaitedDevice);
}

void ReportStoppedDevice(HWND window, PlayerSession& session) {
  PlaybackState* w = PlaybackOf(window);
  wchar_t name[kDisplayNameChars];
  bool mapper = false;
  SelectedEntry(window, name, &mapper);
  {
    ScopedLock lock(session.lock);
    if (w && session.sourceFile && DeviceWaitSeconds() != 0 && KeepPlaceNotYetHeard(window, session)) {
      AwaitDevice(window, session);
      return;
    }
  }
  StopWithStalledMessage(window, session, name);
}

void RetryAwaitedDevice(HWND window, PlayerSession& session) {
  PlaybackState* w = PlaybackOf(window);
  uint32_t error = MMSYSERR_NOERROR;
  char caption[2 * kDisplayNameChars + 32] = "";
  {
    ScopedLock lock(session.lock);
    if (!w || !w->deviceWait || !session.sourceFile) {
      KillTimer(window, TIMER_DEVICE_RETRY);
      return;
    }
    if (session.paused || GetTickCount() - w->waitSince < w->waitMs) {
      uint32_t device = 0;
      if (!FindAwaitedDevice(window, *w, &device)) return;
      const OutputOpening opening = OpenOutputRing(window, session, device, &error, caption, sizeof caption);
      if (opening == OutputOpening::Ok) {
        EndDeviceWaitView(window);
        w->deviceWait = false;
        w->awaitedDevice[0] = L'\0';
        KillTimer(window, TIMER_DEVICE_RETRY);
        session.stopFlag = 0;
        UpdatePosition(window, session);
        SetTimer(window, TIMER_POSITION, kPositionPeriodMs, nullptr);
        SetTimer(window, TIMER_BUTTON_REPEAT, kButtonRepeatPeriodMs, nullptr);
        return;
      }
      if (opening == OutputOpening::OpenFailed && error != WAVERR_BADFORMAT) {
        ShowDeviceWait(window, w->awaitedDevice);  // not back yet
        return;
      }
      // Back, but it no longer takes this file, or the ring could not be made.
      w->awaitedDevice[0] = L'\0';
      StopPlayback(window, session);
    }
  }
  if (w->awaitedDevice[0] != L'\0') {
    StopWithStalledMessage(window, session, w->awaitedDevice);
  } else if (caption[0] != '\0') {
    ShowMmError(window, caption, error);
  } else {
    ShowMmError(window, "waveOutPrepareHeader()", error);
  }
}

void AwaitDeviceIfTheNextOpenFails(HWND window) {
  PlaybackState* w = PlaybackOf(window);
  if (w && w->awaitedDevice[0] == L'\0') SelectedEntry(window, w->awaitedDevice, &w->awaitedMapper);
}

bool PauseWhileAwaitingDevice(HWND window, PlayerSession& session) {
  PlaybackState* w = PlaybackOf(window);
  if (!w || !w->deviceWait) return false;
  ScopedLock lock(session.lock);
  session.paused = session.paused ? 0 : 1;
  if (!session.paused) w->waitSince = GetTickCount();  // the wait runs again from the restart
  ShowPauseState(window, session.paused != 0);
  return true;
}

void ReportWriteError(HWND window, PlayerSession& session, uint32_t code) {
  if (code == MMSYSERR_NODRIVER || code == MMSYSERR_BADDEVICEID) {  // the device is gone
    ReportStoppedDevice(window, session);
    return;
  }
  StopUnderLock(window, session);
  ShowMmError(window, "waveOutWrite()", code);
}
