// Turning a compressed file or a REX loop into a temporary WAVE file on a thread of
// its own, beside the window and without the session lock, so that the window keeps
// painting and answering, and Stop or another file can end the work at any time.
#pragma once

#include <windows.h>

#include <cstdint>

#include "settings/settings_rules.h"

// Posted to the window when the work has ended by itself: wParam the job's serial.
// Outside the feeder's range, which a stop purges.
constexpr UINT MSG_PREPARATION_DONE = 3030;
// Posted once while a converter still writes, wParam the job's serial: its output
// holds a whole WAVE header and the first half second of sound, so playback can
// begin while the rest is written.
constexpr UINT MSG_PREPARATION_READY = 3031;

enum class PreparationKind { Conversion, RexRender };

// What the start asked for, kept for the moment the file is ready.
struct PreparationRequest {
  PreparationKind kind;
  char source[kPathCapacity];  // the name box's text at the start
  char target[kPathCapacity];  // the temporary WAVE file, already created
  uint32_t tempo;         // REX: thousandths of a bpm asked for, 0 for the loop's own
  uint32_t startFrame;    // as OpenAndStart was given it
  // A conversion: the source as the converter described it (codec "" and duration
  // 0 when it told nothing) and the output codec asked for.
  char codec[32];
  uint32_t durationMs;
  char outputCodec[16];
};

struct PreparationJob;

// Starts the work on its own thread; null (nothing started, the target untouched)
// when the thread cannot be had. The job posts MSG_PREPARATION_DONE with `serial`.
PreparationJob* StartPreparation(HWND window, const PreparationRequest& request, uint32_t serial);

// The request as it stands: after MSG_PREPARATION_READY it holds the source's
// description. For the window's thread.
const PreparationRequest& PreparationRequestOf(const PreparationJob* job);

// Whether the converter still runs (it may still be writing the target).
bool PreparationRunning(const PreparationJob* job);

// The percentage done (0 … 100), or -1 where the work tells none.
int PreparationPercent(const PreparationJob* job);
uint32_t PreparationSerial(const PreparationJob* job);
uint32_t PreparationElapsedMs(const PreparationJob* job);

// After MSG_PREPARATION_DONE: waits for the thread, hands back the request, the
// tempo used, and whether the work succeeded, and frees the job. On success the
// target belongs to the caller from then on.
bool FinishPreparation(PreparationJob* job, PreparationRequest* request);

// Ends the work: a converter is ended at once, its thread waited for, and the
// temporary file deleted. A REX render cannot be interrupted: its thread goes on
// alone, deletes the file when the library returns and ends; its handle is
// returned for a wait before the process ends (null when nothing goes on).
HANDLE CancelPreparation(PreparationJob* job);
