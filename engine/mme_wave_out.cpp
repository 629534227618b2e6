// The worker's client side: start, write, reset, pause, restart, position and
// shutdown, each under apiLock then queueLock, and the delivery of notifications.
#include "engine/mme_wave_out.h"

#include "dsp/wave_format.h"
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
