// The feeder thread: streams the open WAVE file through the session's ring of
// output buffers and tells the main window what happened by posted messages.
#pragma once

#include <windows.h>

#include <cstdint>

struct PlayerSession;

// Posted to the session's window; the range 3024 to 3029 belongs to the feeder.
constexpr UINT MSG_FEEDER_READ_ERROR = 3025;      // 0, 0: a short read; the feeder stopped
constexpr UINT MSG_FEEDER_WRITE_ERROR = 3026;     // ring index, result code of the write
constexpr UINT MSG_FEEDER_BUFFER_WRITTEN = 3027;  // ring index, 0
constexpr UINT MSG_FEEDER_END = 3028;             // drain delay in ms, 0

// How long the feeder sleeps at most between looks at the ring, so that a lost
// buffer-done signal delays a refill by no more than this.
constexpr DWORD kFeederWaitMs = 500;

// Stops a feeder that may still exist, then creates the stop event, the
// buffer-done event and the thread. False (with nothing left behind) on failure.
bool StartFeederThread(PlayerSession& session);

// Sets the stop event, waits for the thread and closes it and both events.
void StopFeederThread(PlayerSession& session);

// One look at the ring under the session lock: refills, scales and writes every
// free buffer in ring order. The thread body calls it after each wake-up.
void FeedFreeBuffers(PlayerSession& session);

// The drain delay posted with the end notice: one full buffer's duration + 100 ms.
uint32_t DrainDelayMs(uint32_t bufferBytes, uint32_t avgBytesPerSec);
