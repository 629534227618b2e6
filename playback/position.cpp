// The playing position: the frame that sounds now, worked out from the output's
// position, the bytes queued and read, a loop's rewind and a change to the
// following file not yet heard; kept as the place to resume from and shown.
#include "playback/position.h"

#include "dsp/wave_format.h"
#include "engine/feeder.h"
#include "engine/output_handle.h"
#include "engine/session.h"
#include "playback/playback_rules.h"
#include "playback/playback_state.h"
#include "playback/sequential.h"
#include "playback/window_hooks.h"
#include "win32/scoped_lock.h"

// One position query in the unit asked for; `error` receives the result code.
MMTIME QueryPosition(OutputHandle* output, UINT unit, uint32_t* error) {
  MMTIME time{};
  time.wType = unit;
  *error = OutputGetPosition(output, &time);
  return time;
}

namespace {

// The byte position an answer stands for, whatever unit it came back in.
uint32_t PlayedBytes(const MMTIME& time, uint32_t error, const WaveFormat& format) {
  if (error) return 0;
  switch (time.wType) {
    case TIME_MS:
      return MulDivSaturate(time.u.ms, format.AvgBytesPerSec(), 1000);
    case TIME_SAMPLES:
      return MulDivSaturate(time.u.sample, format.AvgBytesPerSec(), format.SampleRate());
    case TIME_BYTES:
      return time.u.cb;
    default:
      return 0;
  }
}

}  // namespace

int UpdatePosition(HWND window, PlayerSession& session) {
  ScopedLock lock(session.lock);
  if (!session.output) return 0;
  if (session.joinFile && !BufferOutFrom(session, session.fileSerial - 1)) {
    CloseHandle(session.joinFile);
    session.joinFile = nullptr;
  }
  PlaybackState* w = PlaybackOf(window);
  uint32_t bytesError = 0;
  const MMTIME bytes = QueryPosition(session.output, TIME_BYTES, &bytesError);
  ShowOutputDetails(window, session.output, bytes, bytesError);
  const uint32_t played = PlayedBytes(bytes, bytesError, session.format);
  if (session.dataSize == 0) return 1;

  uint32_t p = PlayingByte(session.dataSize, session.remainingBytes, session.bytesQueued, played);
  uint32_t totalFrames = session.totalFrames;
  if (session.leftFile) {
    // Read on into the following file: until what was queued before the change
    // has played, the sound is the file left, and so is what the window shows.
    const uint32_t read = session.dataSize - session.remainingBytes;
    const uint32_t queued = session.bytesQueued - played;
    if (read < queued) {
      const uint32_t back = queued - read;
      p = back < session.leftDataSize ? session.leftDataSize - back : 0;
      totalFrames = session.leftTotalFrames;
    } else {
      EnterFollowingFile(window, session);
    }
  }
  const uint32_t rate = session.format.SampleRate();
  const uint32_t frame = MulDivSaturate(p, rate, session.format.AvgBytesPerSec());
  if (w) w->resumePosition = frame;
  ShowPlayPosition(window, FramesToMilliseconds(frame, rate), totalFrames, rate);
  return 1;
}
