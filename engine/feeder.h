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
// Ring index of the buffer waited for, ms since a buffer last came back: the
// output has kept every buffer for longer than the ring lasts; the feeder stopped.
constexpr UINT MSG_FEEDER_DEVICE_STALLED = 3029;
// The frame the feeder reads next, 0: a converter still writes the file and has
// not reached it; the feeder waits for it.
constexpr UINT MSG_FEEDER_AWAITING_DATA = 3024;

// How much longer than the whole ring lasts the output may keep every buffer
// before the feeder takes it for stalled.
constexpr uint32_t kStallMarginMs = 1000;

// How long the feeder sleeps at most between looks at the ring, so that a lost
// buffer-done signal delays a refill by no more than this.
constexpr DWORD kFeederWaitMs = 500;
// How often it looks while it waits for a converter's next bytes.
constexpr DWORD kAwaitDataLookMs = 20;

// Stops a feeder that may still exist, then creates the stop event, the
// buffer-done event and the thread. False (with nothing left behind) on failure.
bool StartFeederThread(PlayerSession& session);

// Sets the stop event, waits for the thread and closes it and both events.
void StopFeederThread(PlayerSession& session);

// Zero-fills the session record, creates its lock and sets the gain to 1.0.
void CreatePlayerSession(PlayerSession& session);

// Ends the feeder thread if it still runs, closes its events and deletes the lock.
void DestroyPlayerSession(PlayerSession& session);

// The feeder thread's watch on the output: when a buffer last came back (or the
// ring was handed over by a start or a seek), and whether the previous look found
// the play paused.
struct FeederWatch {
  DWORD lastReturnTick;
  bool sawPause;
};

// The time argument of FeedFreeBuffers that has it read the tick count itself once
// it holds the session lock, as the thread body does.
constexpr DWORD kReadTheClockUnderTheLock = 0xFFFFFFFF;

// One look at the ring under the session lock: refills, scales and writes every
// free buffer in ring order. The thread body calls it after each wake-up with its
// watch and kReadTheClockUnderTheLock; given a watch, a look that finds the play running,
// not paused and not drained, with no buffer back for longer than StallBoundMs,
// sets the stop flag and posts MSG_FEEDER_DEVICE_STALLED.
void FeedFreeBuffers(PlayerSession& session, FeederWatch* watch = nullptr, DWORD now = 0);

// The ring's duration plus kStallMarginMs, in ms, saturated at 0xFFFFFFFF. The
// duration is taken at the slower of the declared byte rate and rate × block
// align, so a header claiming too many bytes per second cannot shorten it (for
// compressed data the declared rate is the lower one and holds).
uint32_t StallBoundMs(uint32_t bufferBytes, uint32_t bufferCount, uint32_t avgBytesPerSec,
                      uint32_t sampleRate, uint32_t blockAlign);

// The place a device that stopped serving leaves: the first frame of the oldest
// buffer not returned as played, as the data byte of the file with serial `serial`
// (the session's fileSerial, or one less for the file the feeder went on from).
// When a write failed, the buffer it took came back without the device confirming
// its sound (a device that goes away hands back what it never played), so that
// sound counts as not heard: at most one buffer may be heard twice, none skipped.
// The caller holds the lock with the feeder stopped.
struct KeptPlace {
  uint32_t serial;
  uint32_t byte;
};
KeptPlace PlaceNotYetHeard(const PlayerSession& session);

// Whether a buffer still out began in the file with serial `serial`.
bool BufferOutFrom(const PlayerSession& session, uint32_t serial);

// The drain delay posted with the end notice: one full buffer's duration + 100 ms.
uint32_t DrainDelayMs(uint32_t bufferBytes, uint32_t avgBytesPerSec);
