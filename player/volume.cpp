// Applying the session's volume to a filled output buffer.
#include "player/volume.h"

#include "dsp/gain.h"
#include "player/session.h"

void ApplyGain(PlayerSession& session, WAVEHDR* header) {
  ApplyGain(session.gain, session.format, header->lpData, header->dwBufferLength);
}
