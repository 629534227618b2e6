// Applying the session's volume to a filled output buffer.
#pragma once

#include <windows.h>
#include <mmsystem.h>

struct PlayerSession;

// Scales the header's first buffer-length bytes in place, in the session's sample
// format, by the session's gain. Called by the feeder with the session lock held.
void ApplyGain(PlayerSession& session, WAVEHDR* header);
