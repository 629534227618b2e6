// What changes a running playback: pause and restart, seeks, skips, rewind, and
// the end of a file.
#pragma once

#include <windows.h>

#include <cstdint>

struct PlayerSession;

// Pauses or restarts; the caller holds the lock. 1 when the state changed.
int TogglePause(HWND window, PlayerSession& session);
// Moves playback to `targetFrame`; takes the lock itself.
void SeekTo(uint32_t targetFrame, PlayerSession& session, HWND window);
void SkipBack(HWND window);
void SkipForward(HWND window);
// Rewind: to the start while `playing`; while idle, forget the resume position.
void Rewind(HWND window, bool playing);
// The end-of-play timer: stop, then in sequential mode start the next history entry.
void HandleEndOfPlay(HWND window);
// The position timer: the position shown, and in sequential play the next file
// queued once the end is near. Takes the lock.
void FollowPlayingPosition(HWND window, PlayerSession& session);
