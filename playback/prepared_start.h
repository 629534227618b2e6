// A start from the window and the conversion or REX render it may wait for.
#pragma once

#include <windows.h>

#include <cstdint>

struct PlaybackState;
struct PlayerSession;

// Ends a conversion or REX render a start is waiting for: nothing of it plays.
// A file that plays while its converter writes cannot go on without it.
void CancelPreparing(HWND window, PlaybackState* w);
// Stop, from the user: the work a start waits for and the playback.
void StopAll(HWND window, PlaybackState* w);
// A start from the window (OpenAndStart under the lock), ending first the work an
// earlier start waited for.
int StartUnderLock(HWND window, PlayerSession& session, uint32_t startFrame);
// Another device was chosen while a file plays: the file goes on from its place
// on that device.
void PlayOnSelectedDevice(HWND window, PlayerSession& session);
// MSG_PREPARATION_READY: the converter has written the first of its output; the
// start goes on with it while the converter writes the rest.
void OnPreparationReady(HWND window, PlaybackState* w, WPARAM serial);
// MSG_PREPARATION_DONE: the job ended by itself; the start goes on with its file,
// or the file that plays while it was written gets its true length.
void OnPreparationDone(HWND window, PlaybackState* w, WPARAM serial);
// Before the window goes: waits for the cancelled REX renders, each of which
// deletes its file when the library returns.
void WaitForAbandonedRenders(PlaybackState* w);
