// The worker: its client side (start, write, reset, pause, restart, position and
// shutdown, each under apiLock then queueLock), the delivery of notifications, and
// what its render thread asks of it.
//
// How the render side works: the render thread (engine/render_thread.h) has the
// worker open the device on that thread and hands it every wake-up. Each render
// pass fills exactly one whole device buffer from the queue, converting straight
// into the device's memory and padding with silence when the queue runs dry,
// starts the stream after the first buffer is filled, and reports the headers
// whose last frame it took. With nothing queued, or paused, the idle pass lets the
// last chunk play out, stops the stream a period later and sets no time-out for
// the next wait. While data waits and the device is not running, the 2.9-buffer
// time-out is the pre-roll: a short write starts playing that long after it, two
// device buffers' worth at once. A device that stops signalling for 2.9 buffers
// gets a forced pass; a stream that ran dry is stopped and restarted. A device
// that refuses its buffer on every pass for a second (unplugged, invalidated) is
// taken for lost: the queued headers come back as done and later writes are
// refused, so the client hears of it through its write errors. Each wake-up holds
// queueLock and nothing else, allocates nothing, and never calls anything that
// could wait for the client.
#include "engine/mme_wave_out.h"

#include <new>

#include "devices/wasapi_out.h"
#include "dsp/convert.h"
#include "dsp/wave_format.h"
#include "engine/render_thread.h"
#include "engine/render_timing.h"

namespace {

class Locked {
 public:
  explicit Locked(CRITICAL_SECTION& lock) : lock_(lock) { EnterCriticalSection(&lock_); }
  ~Locked() { LeaveCriticalSection(&lock_); }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;

 private:
  CRITICAL_SECTION& lock_;
};

int64_t CounterNow() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

DWORD WINAPI RenderThreadEntry(void* worker) {
  return static_cast<DWORD>(static_cast<CMMEWAVE*>(worker)->ThreadMain());
}

void CloseEvent(HANDLE& event) {
  if (event) CloseHandle(event);
  event = nullptr;
}

}  // namespace

void NotifyClient(const NotifyTarget& target, UINT message, DWORD_PTR parameter) {
  if (!target.callback) return;
  const WPARAM client = reinterpret_cast<WPARAM>(target.client);
  switch (target.flags & CALLBACK_TYPEMASK) {
    case CALLBACK_WINDOW:
      PostMessageA(reinterpret_cast<HWND>(target.callback), message, client,
                   static_cast<LPARAM>(parameter));
      break;
    case CALLBACK_THREAD:
      PostThreadMessageA(static_cast<DWORD>(target.callback), message, client,
                         static_cast<LPARAM>(parameter));
      break;
    case CALLBACK_FUNCTION:
      reinterpret_cast<LPWAVECALLBACK>(target.callback)(
          reinterpret_cast<HDRVR>(target.client), message, target.instance, parameter, 0);
      break;
    case CALLBACK_EVENT:
      SetEvent(reinterpret_cast<HANDLE>(target.callback));
      break;
    default:
      break;
  }
}

CMMEWAVE::CMMEWAVE() {
  InitializeCriticalSection(&queueLock);
  InitializeCriticalSection(&apiLock);
}

CMMEWAVE::~CMMEWAVE() {
  DeleteCriticalSection(&apiLock);
  DeleteCriticalSection(&queueLock);
}

CMMEWAVEOUT::~CMMEWAVEOUT() { Shutdown(); }

uint32_t CMMEWAVEOUT::StartWorker(const NotifyTarget& target, uint32_t index,
                                  const WaveFormat& format, DWORD flags) {
  deviceIndex = index;
  notifyTarget = target;
  notifyTarget.flags = flags;
  ParseSampleFormat(format, clientFormat);
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  counterFrequency = frequency.QuadPart;

  renderEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  quitEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  wakeEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  startedEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (!renderEvent || !quitEvent || !wakeEvent || !startedEvent) return MMSYSERR_NOMEM;
  workerThread = CreateThread(nullptr, 0, RenderThreadEntry, static_cast<CMMEWAVE*>(this), 0,
                              &workerThreadId);
  if (!workerThread) return MMSYSERR_NOMEM;

  WaitForSingleObject(startedEvent, INFINITE);
  CloseEvent(startedEvent);
  return openResult;
}

uint32_t CMMEWAVEOUT::WriteHeader(WAVEHDR* header) {
  Locked api(apiLock);
  Locked queue(queueLock);
  if (deviceLost) return MMSYSERR_NODRIVER;
  if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
  const uint32_t frames = clientFormat.blockAlign ? header->dwBufferLength / clientFormat.blockAlign : 0;
  header->dwFlags = (header->dwFlags & ~static_cast<DWORD>(WHDR_DONE)) | WHDR_INQUEUE;
  header->lpNext = nullptr;
  if (!queueHead) {
    queueHead = header;
    headPosition = 0;
    headFrames = frames;
  } else {
    WAVEHDR* tail = queueHead;
    while (tail->lpNext) tail = tail->lpNext;
    tail->lpNext = header;
  }
  framesWritten += frames;
  lastWriteTime = CounterNow();
  if (!paused && !running) {
    // Two device buffers waiting start the device at once; less arms the pre-roll.
    if (framesWritten - framesConsumed < 2ull * deviceBufferFrames) {
      SetEvent(wakeEvent);
    } else {
      SetEvent(renderEvent);
    }
  }
  return MMSYSERR_NOERROR;
}

uint32_t CMMEWAVEOUT::ResetQueue() {
  Locked api(apiLock);
  Locked queue(queueLock);
  // From inside a done callback the queue is being walked by the caller's caller.
  if (inNotify) return MMSYSERR_HANDLEBUSY;
  ReturnQueue();
  framesWritten = 0;
  reportedPosition = 0;
  lastChunkFrames = 0;
  framesConsumed = 0;
  anchorFrames = 0;
  anchorTime = 0;
  anchorValid = 0;
  paused = 0;
  if (!running) SetEvent(renderEvent);
  return MMSYSERR_NOERROR;
}

void CMMEWAVEOUT::ReturnQueue() {
  doneChain = queueHead;
  queueHead = nullptr;
  headPosition = 0;
  headFrames = 0;
  while (doneChain) {
    WAVEHDR* header = doneChain;
    doneChain = header->lpNext;
    header->dwFlags = (header->dwFlags & ~static_cast<DWORD>(WHDR_INQUEUE)) | WHDR_DONE;
    inNotify = 1;
    NotifyClient(notifyTarget, MM_WOM_DONE, reinterpret_cast<DWORD_PTR>(header));
    inNotify = 0;
  }
}

uint32_t CMMEWAVEOUT::Pause() {
  Locked api(apiLock);
  Locked queue(queueLock);
  paused = 1;
  PositionLocked();
  return MMSYSERR_NOERROR;
}

uint32_t CMMEWAVEOUT::Restart() {
  Locked api(apiLock);
  Locked queue(queueLock);
  paused = 0;
  if (!running) SetEvent(renderEvent);
  return MMSYSERR_NOERROR;
}

uint64_t CMMEWAVEOUT::PositionLocked() {
  reportedPosition = InterpolatedPosition(anchorValid, anchorFrames, anchorTime, running,
                                          CounterNow(), clientFormat.sampleRate, counterFrequency,
                                          framesConsumed, reportedPosition);
  return reportedPosition;
}

uint64_t CMMEWAVEOUT::CurrentPosition() {
  Locked api(apiLock);
  Locked queue(queueLock);
  return PositionLocked();
}

uint32_t CMMEWAVEOUT::GetPosition(MMTIME* time) {
  const uint64_t p = CurrentPosition();
  uint32_t type = time->wType;
  const uint32_t value = PositionInUnits(p, type, clientFormat.sampleRate, clientFormat.blockAlign);
  time->wType = type;
  switch (type) {
    case TIME_MS: time->u.ms = value; break;
    case TIME_BYTES: time->u.cb = value; break;
    default: time->u.sample = value; break;
  }
  return MMSYSERR_NOERROR;
}

void CMMEWAVEOUT::Shutdown() {
  Locked api(apiLock);
  if (quitEvent) SetEvent(quitEvent);
  if (workerThread) {
    // The render thread never takes apiLock, so holding it here cannot block it.
    WaitForSingleObject(workerThread, INFINITE);
    CloseHandle(workerThread);
    workerThread = nullptr;
  }
  CloseEvent(startedEvent);
  CloseEvent(wakeEvent);
  CloseEvent(renderEvent);
  CloseEvent(quitEvent);
}

// The render thread's view of the worker: two calls, nothing of its class.
class CMMEWAVEOUT::RenderClient final : public RenderThreadClient {
 public:
  explicit RenderClient(CMMEWAVEOUT& worker) : worker_(worker) {}
  CAUDIODEVICE* OpenDevice() override { return worker_.OpenDevice(); }
  bool ServeWakeUp(CAUDIODEVICE& device, DWORD wait, int64_t t0, int64_t t1, DWORD& timeout) override {
    return worker_.ServeWakeUp(device, wait, t0, t1, timeout);
  }

 private:
  CMMEWAVEOUT& worker_;
};

int CMMEWAVEOUT::ThreadMain() {
  RenderClient client(*this);
  const HANDLE events[3] = {renderEvent, quitEvent, wakeEvent};
  return RunRenderThread(client, events);
}

CAUDIODEVICE* CMMEWAVEOUT::OpenDevice() {
  CWASAPIOUT* device = new (std::nothrow) CWASAPIOUT();
  if (!device) {
    openResult = MMSYSERR_NOMEM;
    SetEvent(startedEvent);
    return nullptr;
  }
  deviceFormat = clientFormat;
  const bool opened = device->Open(deviceIndex, deviceFormat, renderEvent, deviceBufferFrames,
                                   latencyFrames, openResult, deviceName, 64);
  negotiation = device->Negotiation();
  if (!opened) {
    delete device;
    SetEvent(startedEvent);
    return nullptr;
  }
  periodTicks = PeriodTicks(counterFrequency, deviceBufferFrames, deviceFormat.sampleRate);
  waitTimeout = WaitTimeoutMs(deviceBufferFrames, deviceFormat.sampleRate);
  openResult = MMSYSERR_NOERROR;
  SetEvent(startedEvent);
  return device;
}

bool CMMEWAVEOUT::ServeWakeUp(CAUDIODEVICE& device, DWORD wait, int64_t t0, int64_t t1,
                              DWORD& timeout) {
  EnterCriticalSection(&queueLock);
  if (paused || !queueHead) {
    IdlePass(device, t1, timeout);
  } else {
    timeout = waitTimeout;
    if (wait == WAIT_OBJECT_0 + 2) {
      // A write armed the finite time-out; nothing more to do yet.
    } else if (wait == WAIT_TIMEOUT) {
      if (WaitForSingleObject(renderEvent, 0) == WAIT_OBJECT_0) {
        RenderPass(device, t1);
      } else if (running) {
        if ((t1 - t0) * 1000 / counterFrequency >= static_cast<int64_t>(timeout)) {
          SetEvent(renderEvent);  // no period signal for 2.9 buffers: force a pass
        }
      } else if (framesWritten != framesConsumed &&
                 t1 - lastWriteTime >= static_cast<int64_t>(periodTicks)) {
        SetEvent(renderEvent);  // the pre-roll has waited long enough
      }
    } else if (wait == WAIT_OBJECT_0) {
      RenderPass(device, t1);
    } else {
      LeaveCriticalSection(&queueLock);
      return false;
    }
  }
  LeaveCriticalSection(&queueLock);
  return true;
}

void CMMEWAVEOUT::Anchor(int64_t t1) {
  anchorFrames = framesConsumed - lastChunkFrames;
  anchorTime = t1;
  anchorValid = 1;
  lastChunkFrames = 0;
}

void CMMEWAVEOUT::RenderPass(CAUDIODEVICE& device, int64_t t1) {
  if (running && lastChunkFrames != 0) Anchor(t1);
  doneChain = nullptr;
  BYTE* data = nullptr;
  if (!device.GetBuffer(deviceBufferFrames, &data)) {
    ResetEvent(renderEvent);
    NoteFailedPass(device, t1);
    return;
  }
  getBufferFailing = 0;
  uint32_t left = deviceBufferFrames;
  uint32_t filled = 0;
  while (queueHead && left > 0) {
    const uint32_t available = headFrames - headPosition;
    const uint32_t n = left < available ? left : available;
    ConvertSamples(data, n, clientFormat,
                   queueHead->lpData + static_cast<size_t>(headPosition) * clientFormat.blockAlign,
                   deviceFormat);
    headPosition += n;
    filled += n;
    data += static_cast<size_t>(n) * deviceFormat.blockAlign;
    left -= n;
    if (headPosition >= headFrames) {
      if (!doneChain) doneChain = queueHead;
      queueHead->dwFlags &= ~static_cast<DWORD>(WHDR_INQUEUE);
      queueHead = queueHead->lpNext;
      headPosition = 0;
      headFrames = queueHead && clientFormat.blockAlign
                       ? queueHead->dwBufferLength / clientFormat.blockAlign
                       : 0;
    }
  }
  if (left > 0) {
    FillMemory(data, static_cast<size_t>(left) * deviceFormat.blockAlign, deviceFormat.silenceByte);
  }
  device.ReleaseBuffer(deviceBufferFrames, 0);
  if (filled > 0) {
    framesConsumed += filled;
    lastChunkFrames = filled;
  } else {
    lastChunkFrames = 0;
  }

  if (!running) {
    ResetEvent(renderEvent);
    running = 1;
    device.Start();
    framesRendered = 0;
    streamStartTime = CounterNow();
  } else {
    framesRendered += deviceBufferFrames;
    if (StreamRanDry(t1 - streamStartTime, deviceFormat.sampleRate, counterFrequency,
                     latencyFrames, framesRendered)) {
      device.Stop();
      running = 0;
      SetEvent(renderEvent);  // the next pass restarts the stream with fresh data
    }
  }
  ReportDone();
}

void CMMEWAVEOUT::NoteFailedPass(CAUDIODEVICE& device, int64_t t1) {
  if (!getBufferFailing) {
    getBufferFailing = 1;
    firstFailedPass = t1;
    return;
  }
  if ((t1 - firstFailedPass) * 1000 / counterFrequency < kDeviceLostAfterMs) return;
  // Passes come at least every 2.9 device buffers while data waits, so a run this
  // long is no passing hiccup: give the buffers back rather than hold them for ever.
  getBufferFailing = 0;
  deviceLost = 1;
  if (running) {
    device.Stop();
    running = 0;
    Anchor(t1);
  }
  ReturnQueue();
}

void CMMEWAVEOUT::ReportDone() {
  // The chain runs through the headers this pass finished; the first one still
  // queued (a header only partly taken) ends it.
  while (doneChain && !(doneChain->dwFlags & WHDR_INQUEUE)) {
    WAVEHDR* header = doneChain;
    doneChain = header->lpNext;
    header->dwFlags |= WHDR_DONE;
    header->lpNext = nullptr;
    inNotify = 1;
    NotifyClient(notifyTarget, MM_WOM_DONE, reinterpret_cast<DWORD_PTR>(header));
    inNotify = 0;
  }
}

void CMMEWAVEOUT::IdlePass(CAUDIODEVICE& device, int64_t t1, DWORD& timeout) {
  getBufferFailing = 0;  // a pause or an empty queue ends a run of failed passes
  if (running) {
    if (paused || lastChunkFrames == 0) {
      device.Stop();
      running = 0;
    }
    Anchor(t1);
  }
  if (!running) {
    ResetEvent(renderEvent);
    timeout = INFINITE;
  }
}
