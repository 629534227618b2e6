// A device that goes away while a file plays: the place not yet heard is kept and
// the same device looked for until it is back or the wait allowed has passed.
#pragma once

#include <windows.h>

#include <cstdint>

struct PlayerSession;

// The feeder found the device no longer serving (it kept every buffer, or a write
// said the device is gone): keeps the place not yet heard, closes the output and
// waits for the device, or with a wait of 0 stops with the stalled-device message.
// The caller holds the session lock.
void ReportStoppedDevice(HWND window, PlayerSession& session);
// A write failed (MSG_FEEDER_WRITE_ERROR with `code`): a device gone is reported as
// above; any other failure stops playback with the system's text for the code.
// Takes the lock itself.
void ReportWriteError(HWND window, PlayerSession& session, uint32_t code);
// Waits for the device selected in the box, the session holding its file at the
// place to go on from and no output. The caller holds the lock.
void AwaitDevice(HWND window, PlayerSession& session);
// The retry timer: looks for the awaited device and goes on when it opens; gives up
// with the stalled-device message once the wait has run out.
void RetryAwaitedDevice(HWND window, PlayerSession& session);
// A seek while the device is awaited moves the kept place to `frame` (the caller
// has kept it inside the file). False when no wait is under way.
bool MoveAwaitedPlace(HWND window, PlayerSession& session, uint32_t frame);
// Sequential play goes on with a new start: a device gone by then is waited for
// rather than reported.
void AwaitDeviceIfTheNextOpenFails(HWND window);
// Pause or restart while the device is awaited: a pause of the kept place. False
// when no wait is under way.
bool PauseWhileAwaitingDevice(HWND window, PlayerSession& session);
