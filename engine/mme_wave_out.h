// The worker that gives a WASAPI exclusive endpoint wave-out's behaviour: its own
// queue of written headers, a render thread that copies them into the device, and
// done notifications exactly as wave-out delivers them.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <cstdint>

#include "devices/wasapi_negotiation.h"
#include "dsp/sample_format.h"

class CAUDIODEVICE;
class WaveFormat;
struct OutputHandle;

// Who is told about open, close and done: the client's handle, the callback
// value, the instance value and the open flags (which say how to deliver).
struct NotifyTarget {
  OutputHandle* client;
  DWORD_PTR callback;
  DWORD_PTR instance;
  DWORD flags;
};

// How long render passes may fail to get a device buffer, one after another,
// before the worker takes the device for lost (unplugged, invalidated): it hands
// every queued header back and refuses later writes with MMSYSERR_NODRIVER.
constexpr uint32_t kDeviceLostAfterMs = 1000;

// Delivers `message` (MM_WOM_OPEN, MM_WOM_CLOSE, MM_WOM_DONE) the way the open
// flags ask: a posted window or thread message, a function call, an event signal.
void NotifyClient(const NotifyTarget& target, UINT message, DWORD_PTR parameter);

class CMMEWAVEWORK {
 public:
  virtual ~CMMEWAVEWORK() = default;
};

// Holds the worker's data, including its two locks. Every field but the locks is
// zero at construction.
class CMMEWAVE : public CMMEWAVEWORK {
 public:
  CMMEWAVE();
  ~CMMEWAVE() override;
  CMMEWAVE(const CMMEWAVE&) = delete;
  CMMEWAVE& operator=(const CMMEWAVE&) = delete;

  virtual int ThreadMain() { return -1; }
  virtual void Shutdown() {}

  WAVEHDR* queueHead = nullptr;   // oldest queued header, the one being consumed
  uint32_t headPosition = 0;      // frames of queueHead already consumed
  uint32_t headFrames = 0;        // queueHead's buffer length in client frames
  WAVEHDR* doneChain = nullptr;   // first header finished by this pass, not yet reported
  uint8_t inNotify = 0;           // a done notification is being delivered
  uint8_t paused = 0;
  uint64_t framesWritten = 0;     // since open or reset
  int64_t lastWriteTime = 0;      // counter value at the last write
  uint8_t running = 0;            // the device stream is started
  uint32_t deviceBufferFrames = 0;
  uint64_t periodTicks = 0;       // one device buffer in counter ticks
  uint32_t waitTimeout = 0;       // ms: 2.9 device buffers
  uint32_t latencyFrames = 0;
  wchar_t deviceName[64] = {};
  SampleFormat clientFormat;
  SampleFormat deviceFormat;
  NegotiationLog negotiation;     // written by the render thread before startedEvent
  uint64_t reportedPosition = 0;  // frames; never decreases but on reset
  int64_t counterFrequency = 0;
  uint32_t lastChunkFrames = 0;   // client frames the latest pass put into the device
  uint64_t framesConsumed = 0;    // client frames put into the device since open or reset
  uint64_t anchorFrames = 0;
  int64_t anchorTime = 0;
  uint8_t anchorValid = 0;
  HANDLE renderEvent = nullptr;   // the device's period signal; also forces a pass
  HANDLE quitEvent = nullptr;
  HANDLE wakeEvent = nullptr;     // a write arms the pre-roll time-out
  HANDLE workerThread = nullptr;
  DWORD workerThreadId = 0;
  uint32_t deviceIndex = 0;
  uint32_t openResult = 0;        // from the render thread to the opener
  HANDLE startedEvent = nullptr;  // set when the device open has finished, well or badly
  NotifyTarget notifyTarget = {};
  int64_t streamStartTime = 0;
  uint64_t framesRendered = 0;    // device frames supplied since the stream started
  uint8_t getBufferFailing = 0;   // the latest passes could not get a device buffer
  int64_t firstFailedPass = 0;    // counter value at the first pass of that run
  uint8_t deviceLost = 0;         // the device stopped serving: writes are refused
  CRITICAL_SECTION queueLock;     // the only lock the render thread takes
  CRITICAL_SECTION apiLock;       // serialises client operations; taken before queueLock
};

class CMMEWAVEOUT : public CMMEWAVE {
 public:
  CMMEWAVEOUT() = default;
  ~CMMEWAVEOUT() override;

  // Creates the events and the render thread, which opens the device; returns
  // when the open has finished, with its result.
  uint32_t StartWorker(const NotifyTarget& target, uint32_t index, const WaveFormat& format,
                       DWORD flags);
  uint32_t WriteHeader(WAVEHDR* header);
  uint32_t ResetQueue();
  uint32_t Pause();
  uint32_t Restart();
  // The play position in client frames, interpolated in real time.
  uint64_t CurrentPosition();
  uint32_t GetPosition(MMTIME* time);

  // The render thread, which reaches this object only through its client.
  int ThreadMain() override;
  void Shutdown() override;

  // The render thread's passes, under queueLock. Only the render thread calls
  // them; the render-pass benchmark times one on a device of plain memory.
  void RenderPass(CAUDIODEVICE& device, int64_t t1);
  void IdlePass(CAUDIODEVICE& device, int64_t t1, DWORD& timeout);

 private:
  // What the render thread asks of this object.
  class RenderClient;
  CAUDIODEVICE* OpenDevice();
  bool ServeWakeUp(CAUDIODEVICE& device, DWORD wait, int64_t t0, int64_t t1, DWORD& timeout);
  void ReportDone();
  // Marks every queued header done, in write order, with a notice for each.
  void ReturnQueue();
  void NoteFailedPass(CAUDIODEVICE& device, int64_t t1);
  void Anchor(int64_t t1);
  uint64_t PositionLocked();
};
