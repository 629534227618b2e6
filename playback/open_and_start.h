// From the text of the file-name box to sound.
#pragma once

#include <windows.h>

#include <cstdint>

struct PlayerSession;
struct PreparationRequest;

// The status line's texts when a conversion has ended.
extern const char kStatusConverted[];         // "Converted"
extern const char kStatusConversionFailed[];  // "Conversion failed."

// What OpenAndStart returns while a file is converted or rendered beside the window.
constexpr int kStartPending = 2;

// Plays the file named in the file-name box from `startFrame` (kResumePosition to
// resume). The caller holds the session lock. 1 when playback started; 0 after the
// failing step showed its message; kStartPending when a compressed file or a REX
// loop is being prepared first (MSG_PREPARATION_DONE goes on).
int OpenAndStart(HWND window, PlayerSession& session, uint32_t startFrame);
// The rest of such a start once its job has ended: `succeeded` tells whether the
// temporary file holds the WAVE file. The caller holds the session lock.
int FinishPreparedStart(HWND window, PlayerSession& session, bool succeeded, const PreparationRequest& request);
// A conversion's output can begin to play while the converter writes it
// (MSG_PREPARATION_READY): starts it with the source's described length. The
// caller holds the session lock. 1 when playback started; `shownBytes` receives
// the data bytes the overview drawn at the start covers.
int StartStreamedConversion(HWND window, PlayerSession& session, const PreparationRequest& request,
                            uint32_t* shownBytes);
