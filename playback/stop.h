// The stop of playback.
#pragma once

#include <windows.h>

struct PlayerSession;

// Releases the whole session in one pass; the caller holds the session lock. Always 1.
int StopPlayback(HWND window, PlayerSession& session);
