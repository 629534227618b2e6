// The stop of playback.
#pragma once

#include <windows.h>

struct PlayerSession;

// Releases the whole session in one pass; the caller holds the session lock. Always 1.
int StopPlayback(HWND window, PlayerSession& session);
// The same, taking the session lock itself.
void StopUnderLock(HWND window, PlayerSession& session);
// The feeder could not read the file (MSG_FEEDER_READ_ERROR): stops playback and
// says so. Takes the lock itself.
void ReportReadError(HWND window, PlayerSession& session);
