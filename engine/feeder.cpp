// The feeder thread.
//
// How it works: the thread sleeps on the session's stop and buffer-done events
// (at most 500 ms, so a missed signal costs at most that). Each wake-up takes the
// session lock and walks the ring from the ring index: a header with WHDR_DONE is
// free, so it is taken, filled straight from the file (rewinding to the data
// offset when looping, so one buffer may hold the end and the beginning back to
// back), scaled in place and written to the output. The walk stops at the first
// header still out, since buffers are served strictly in ring order. When the data
// is exhausted the taken buffer stays idle, and the one whose return brings the
// pending count to 0 triggers the end notice, once per play: its done flag stays
// clear and the ring index stays on it. The feeder never waits while holding the
// lock and reaches the window only by PostMessage.
//
// In sequential play the window may have opened the next entry, of the same
// format: at the end of the data the feeder reads on into it in the same buffer,
// so the device plays one stream; the file left stays open until the change is
// heard (the window closes it then, or goes back to it for a seek).
//
// A device can stop taking sound without failing a call (an audio server gone, a
// device pulled): wave-out then simply keeps every buffer. The thread remembers
// when a buffer last came back (a start or a seek hands the whole ring over, which
// counts too), by the clock read once the lock is held; while the play runs
// unpaused with buffers out, a look that finds none back for longer than the ring
// lasts plus a second stops the feeder and tells the window. A pause, and the first look after it, restart the measure.
//
// While a converter still writes the file (the session's growing flag), a buffer
// is taken only once its bytes are there; until then the feeder looks every 20 ms,
// tells the window once that it waits, and the wait restarts the stall measure.
#include "engine/feeder.h"

#include "dsp/gain.h"
#include "engine/output_handle.h"
#include "engine/session.h"

namespace {

DWORD WINAPI FeederThreadMain(void* parameter) {
  PlayerSession& session = *static_cast<PlayerSession*>(parameter);
  const HANDLE events[2] = {session.stopEvent, session.bufferDoneEvent};
  FeederWatch watch = {GetTickCount(), false};
  for (;;) {
    const DWORD wait =
        WaitForMultipleObjects(2, events, FALSE, session.awaitingData ? kAwaitDataLookMs : kFeederWaitMs);
    if (wait == WAIT_OBJECT_0) return 0;
    if (wait != WAIT_OBJECT_0 + 1 && wait != WAIT_TIMEOUT) {
      session.stopFlag = 1;
      return static_cast<DWORD>(-1);
    }
    FeedFreeBuffers(session, &watch, kReadTheClockUnderTheLock);
  }
}

void Post(const PlayerSession& session, UINT message, WPARAM wParam, LPARAM lParam) {
  PostMessageA(session.window, message, wParam, lParam);
}

// Reads `want` bytes; a failed call counts as 0 bytes read.
bool ReadExactly(HANDLE file, uint8_t* to, uint32_t want) {
  DWORD read = 0;
  if (!ReadFile(file, to, want, &read, nullptr)) read = 0;
  return read == want;
}

bool RewindToData(const PlayerSession& session) {
  LARGE_INTEGER to;
  to.QuadPart = session.dataOffset;
  LARGE_INTEGER reached;
  return SetFilePointerEx(session.sourceFile, to, &reached, FILE_BEGIN) &&
         reached.QuadPart == static_cast<LONGLONG>(session.dataOffset);
}

// Sequential play: the data of the following file goes on where this file's ends,
// in the same buffer. The file left is kept until the change is heard.
void GoOnIntoFollowing(PlayerSession& session) {
  session.leftFile = session.sourceFile;
  session.leftDataOffset = session.dataOffset;
  session.leftDataSize = session.dataSize;
  session.leftTotalFrames = session.totalFrames;
  session.sourceFile = session.following.file;
  session.dataOffset = session.following.dataOffset;
  session.dataSize = session.following.dataSize;
  session.totalFrames = session.following.totalFrames;
  session.remainingBytes = session.dataSize;
  session.following = FollowingWave{};
  ++session.fileSerial;
  // A buffer of the file before may still be out; that file can no longer be returned to.
  if (session.joinFile) CloseHandle(session.joinFile);
  session.joinFile = nullptr;
}

// Fills one buffer; returns the bytes it holds. On a read error the stop flag is
// set and the read-error notice posted.
uint32_t FillBuffer(PlayerSession& session, uint8_t* data) {
  uint32_t got = 0;
  while (got < session.bufferBytes) {
    uint32_t want = session.bufferBytes - got;
    if (want > session.remainingBytes) want = session.remainingBytes;
    if (!ReadExactly(session.sourceFile, data + got, want)) {
      session.stopFlag = 1;
      Post(session, MSG_FEEDER_READ_ERROR, 0, 0);
      return got;
    }
    got += want;
    session.remainingBytes -= want;
    if (session.remainingBytes == 0) {
      if (!session.loopFlag && !session.growing && session.following.file && !session.leftFile) {
        GoOnIntoFollowing(session);
        continue;
      }
      if (!session.loopFlag || session.growing) break;
      session.remainingBytes = session.dataSize;
      if (!RewindToData(session)) {
        session.stopFlag = 1;
        Post(session, MSG_FEEDER_READ_ERROR, 0, 0);
        return got;
      }
    }
  }
  return got;
}

// After a walk that stopped at a buffer still out. The tick count wraps after 49.7
// days; the unsigned difference stays right across the wrap.
void WatchForStall(PlayerSession& session, FeederWatch& watch, DWORD now, bool tookAny) {
  const bool paused = session.paused != 0;
  if (tookAny || paused || watch.sawPause) {
    watch.lastReturnTick = now;
    watch.sawPause = paused;
    return;
  }
  // Drained: the end notice is out and nothing is queued.
  if (session.remainingBytes == 0 && session.pendingCount == 0) return;
  const DWORD waited = now - watch.lastReturnTick;
  const uint32_t bound = StallBoundMs(session.bufferBytes, session.bufferCount,
                                      session.format.AvgBytesPerSec(), session.format.SampleRate(),
                                      session.format.BlockAlign());
  if (waited <= bound) return;
  session.stopFlag = 1;
  Post(session, MSG_FEEDER_DEVICE_STALLED, session.ringIndex, static_cast<LPARAM>(waited));
}

// While a converter writes the file: whether the next buffer's bytes are there.
// Raises the data size (and what remains) to what has been written when that is
// more than the source's described length. The next buffer waits for a whole
// buffer's bytes, or for the rest of the data once its end is known.
bool DataAtHand(PlayerSession& session) {
  LARGE_INTEGER size{}, position{}, none{};
  if (!GetFileSizeEx(session.sourceFile, &size) ||
      !SetFilePointerEx(session.sourceFile, none, &position, FILE_CURRENT)) {
    return false;
  }
  const uint32_t block = session.format.BlockAlign();
  if (size.QuadPart > session.dataOffset && block != 0) {
    uint64_t written = static_cast<uint64_t>(size.QuadPart) - session.dataOffset;
    if (written > 0xFFFFFFFFu) written = 0xFFFFFFFFu;
    written -= written % block;
    if (written > session.dataSize) {
      session.remainingBytes += static_cast<uint32_t>(written) - session.dataSize;
      session.dataSize = static_cast<uint32_t>(written);
    }
  }
  const uint32_t want = session.remainingBytes < session.bufferBytes ? session.remainingBytes : session.bufferBytes;
  return want != 0 && position.QuadPart + want <= size.QuadPart;
}

}  // namespace

uint32_t StallBoundMs(uint32_t bufferBytes, uint32_t bufferCount, uint32_t avgBytesPerSec,
                      uint32_t sampleRate, uint32_t blockAlign) {
  const uint64_t frameRate = static_cast<uint64_t>(sampleRate) * blockAlign;
  uint32_t bytesPerSecond = avgBytesPerSec;
  if (frameRate != 0 && (bytesPerSecond == 0 || frameRate < bytesPerSecond)) {
    bytesPerSecond = static_cast<uint32_t>(frameRate);
  }
  const uint32_t bufferMs = MulDivSaturate(bufferBytes, 1000, bytesPerSecond);
  if (bufferMs == 0xFFFFFFFF) return 0xFFFFFFFF;
  const uint64_t bound = static_cast<uint64_t>(bufferMs) * bufferCount + kStallMarginMs;
  return bound > 0xFFFFFFFF ? 0xFFFFFFFF : static_cast<uint32_t>(bound);
}

uint32_t DrainDelayMs(uint32_t bufferBytes, uint32_t avgBytesPerSec) {
  return MulDivSaturate(bufferBytes, 1000, avgBytesPerSec) + 100;
}

void FeedFreeBuffers(PlayerSession& session, FeederWatch* watch, DWORD now) {
  EnterCriticalSection(&session.lock);
  // The wait for the lock may have lasted seconds (a start that converted a file
  // under it) and ended with a whole new ring handed over: a time read before it
  // would count that wait as the device keeping its buffers.
  if (now == kReadTheClockUnderTheLock) now = GetTickCount();
  if (!session.output || !session.sourceFile || session.stopFlag || session.bufferCount == 0) {
    LeaveCriticalSection(&session.lock);
    return;
  }
  bool tookAny = false;
  for (;;) {
    const uint32_t index = session.ringIndex;
    WAVEHDR* header = session.headers[index];
    if (!header || !(header->dwFlags & WHDR_DONE)) {
      if (watch) WatchForStall(session, *watch, now, tookAny);
      break;
    }
    if (session.growing && !DataAtHand(session)) {
      // Waiting for the converter is no stall of the device.
      if (!session.awaitingData) {
        session.awaitingData = 1;
        Post(session, MSG_FEEDER_AWAITING_DATA, (session.dataSize - session.remainingBytes) / session.format.BlockAlign(), 0);
      }
      if (watch) WatchForStall(session, *watch, now, true);
      break;
    }
    session.awaitingData = 0;
    header->dwFlags &= ~static_cast<DWORD>(WHDR_DONE);
    --session.pendingCount;
    tookAny = true;

    // The end was reached before it was known to be the end (a converter that
    // ended after the feeder caught up with it), or Loop play was chosen after
    // the last bytes were read: the file starts again, as at any end.
    if (session.remainingBytes == 0 && session.loopFlag && !session.growing && session.dataSize != 0) {
      if (!RewindToData(session)) {
        session.stopFlag = 1;
        Post(session, MSG_FEEDER_READ_ERROR, 0, 0);
        break;
      }
      session.remainingBytes = session.dataSize;
    }

    if (session.remainingBytes != 0) {
      const uint32_t startByte = session.dataSize - session.remainingBytes;
      const uint32_t serial = session.fileSerial;
      const uint32_t got = FillBuffer(session, reinterpret_cast<uint8_t*>(header->lpData));
      if (session.stopFlag) break;
      header->dwBufferLength = got;
      ApplyGain(session.gain, session.format, header->lpData, header->dwBufferLength);
      const uint32_t result = OutputWrite(session.output, header);
      if (result != MMSYSERR_NOERROR) {
        // The buffer came back, but a device that went away returns what it never
        // played: its earlier sound stays the place not yet heard.
        if (session.bufferFileSerial[index] == 0) {
          session.bufferStartByte[index] = startByte;
          session.bufferFileSerial[index] = serial;
        }
        session.stopFlag = 1;
        Post(session, MSG_FEEDER_WRITE_ERROR, index, static_cast<LPARAM>(result));
        break;
      }
      session.bufferStartByte[index] = startByte;
      session.bufferFileSerial[index] = serial;
      Post(session, MSG_FEEDER_BUFFER_WRITTEN, index, 0);
      ++session.pendingCount;
      session.bytesQueued += got;
    }

    if (session.remainingBytes == 0 && session.pendingCount == 0 && !session.growing) {
      Post(session, MSG_FEEDER_END,
           DrainDelayMs(session.bufferBytes, session.format.AvgBytesPerSec()), 0);
      break;
    }
    session.ringIndex = index + 1 == session.bufferCount ? 0 : index + 1;
  }
  LeaveCriticalSection(&session.lock);
}

KeptPlace PlaceNotYetHeard(const PlayerSession& session) {
  const uint32_t index = session.ringIndex;
  if (index < session.bufferCount && session.bufferFileSerial[index] != 0) {
    return {session.bufferFileSerial[index], session.bufferStartByte[index]};
  }
  // Nothing written since the ring was handed over: the feeder's read position.
  return {session.fileSerial, session.dataSize - session.remainingBytes};
}

bool BufferOutFrom(const PlayerSession& session, uint32_t serial) {
  for (uint32_t i = 0; i < session.bufferCount; ++i) {
    const WAVEHDR* header = session.headers[i];
    if (header && !(header->dwFlags & WHDR_DONE) && session.bufferFileSerial[i] == serial) return true;
  }
  return false;
}

bool StartFeederThread(PlayerSession& session) {
  StopFeederThread(session);
  session.stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  session.bufferDoneEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (session.stopEvent && session.bufferDoneEvent) {
    session.feederThread =
        CreateThread(nullptr, 0, FeederThreadMain, &session, 0, &session.feederThreadId);
  }
  if (!session.feederThread) {
    StopFeederThread(session);
    return false;
  }
  return true;
}

void StopFeederThread(PlayerSession& session) {
  if (session.feederThread) {
    SetEvent(session.stopEvent);
    WaitForSingleObject(session.feederThread, INFINITE);
    CloseHandle(session.feederThread);
    session.feederThread = nullptr;
    session.feederThreadId = 0;
  }
  if (session.bufferDoneEvent) CloseHandle(session.bufferDoneEvent);
  if (session.stopEvent) CloseHandle(session.stopEvent);
  session.bufferDoneEvent = nullptr;
  session.stopEvent = nullptr;
}

void CreatePlayerSession(PlayerSession& session) {
  // The record is an object already (a member or a local) that holds a C++ owner,
  // the format, beside plain fields: a value-initialised record moved in zero-fills
  // every plain field, and the object's own destructor stays the only one.
  session = PlayerSession();
  InitializeCriticalSection(&session.lock);
  session.gain = 1.0;
}

void DestroyPlayerSession(PlayerSession& session) {
  StopFeederThread(session);
  DeleteCriticalSection(&session.lock);
  // Not the destructor: the object's own runs when its owner goes, and a second
  // run would free the format's block again.
  session.format.Release();
}
