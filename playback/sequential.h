// Sequential play through the file-name box's list and its change without a gap.
// The feeder reads on from the file that plays into the following one
// (engine/feeder.h); this decides which file that is and takes the change once heard.
#pragma once

#include <windows.h>

struct PlayerSession;

// Sequential play's next entry of the file-name box's list: the one below the
// selection, the top after the last one with "Loop play" checked; -1 when none.
LRESULT NextSequentialEntry(HWND window);

// Sequential play: when the file nears its end, opens the next entry of the list
// (the same walk as the end of play) if it is a WAVE file of the same format, for
// the feeder to read on into. The caller holds the session lock.
void QueueFollowingWave(HWND window, PlayerSession& session);

// The change to the following file has been heard: keeps the file left open while
// a buffer that began in it is out, and has the window show the new one. The
// caller holds the lock.
void EnterFollowingFile(HWND window, PlayerSession& session);

// Before the change to the following file is heard, the window still shows the
// file left and a seek acts on it: the following file is put back as it was.
void GoBackToLeftFile(PlayerSession& session);

// Closes the file queued to follow, if any. The caller holds the lock.
void DropFollowingWave(PlayerSession& session);

// "Loop play" or "Sequential" changed: the feeder loops or not, and the next entry
// is looked at again by the rule now in force. Takes the lock.
void ApplyPlayMode(HWND window, PlayerSession& session);
