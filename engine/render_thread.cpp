// The worker's render thread.
//
// How it works: the thread opens the device itself (the device and its COM
// objects belong to it), raises itself to time-critical priority inside the
// "Pro Audio" scheduler task, and waits on the render, quit and wake events. Each
// render pass fills exactly one whole device buffer from the queue, converting
// straight into the device's memory and padding with silence when the queue runs
// dry, starts the stream after the first buffer is filled, and reports the headers
// whose last frame it took. With nothing queued, or paused, the idle pass lets the
// last chunk play out, stops the stream a period later and sleeps without a
// time-out. While data waits and the device is not running, the 2.9-buffer
// time-out is the pre-roll: a short write starts playing that long after it, two
// device buffers' worth at once. A device that stops signalling for 2.9 buffers
// gets a forced pass; a stream that ran dry is stopped and restarted. A device
// that refuses its buffer on every pass for a second (unplugged, invalidated) is
// taken for lost: the queued headers come back as done and later writes are
// refused, so the client hears of it through its write errors. The thread
// holds queueLock for each pass and nothing else, allocates nothing in a pass, and
// never calls anything that could wait for the client.
#include <windows.h>
#include <avrt.h>

#include <new>

#include "devices/wasapi_out.h"
#include "dsp/convert.h"
#include "engine/mme_wave_out.h"
#include "engine/render_timing.h"

namespace {

int64_t CounterNow() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// Loads a library of the system folder by its full path, so that a copy of the
// same name in the program's folder or the current directory is never taken.
// (LOAD_LIBRARY_SEARCH_SYSTEM32 would do it too, but Vista and 7 lack it unless
// an update is installed.)
HMODULE LoadSystemLibrary(const char* name) {
  char path[MAX_PATH];
  const UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length + 1 + lstrlenA(name) >= MAX_PATH) return nullptr;
  lstrcatA(path, "\\");
  lstrcatA(path, name);
  return LoadLibraryA(path);
}

// The scheduler library, shared by every worker of the process.
struct Scheduler {
  CRITICAL_SECTION lock;
  HMODULE library = nullptr;
  decltype(&AvSetMmThreadCharacteristicsW) join = nullptr;
  decltype(&AvRevertMmThreadCharacteristics) leave = nullptr;
  Scheduler() { InitializeCriticalSection(&lock); }
  ~Scheduler() { DeleteCriticalSection(&lock); }
};

Scheduler& ProcessScheduler() {
  static Scheduler scheduler;
  return scheduler;
}

}  // namespace

HANDLE JoinProAudioTask(DWORD* taskIndex) {
  Scheduler& s = ProcessScheduler();
  EnterCriticalSection(&s.lock);
  if (!s.library) {
    s.library = LoadSystemLibrary("avrt.dll");
    if (!s.library) {
      LeaveCriticalSection(&s.lock);
      return nullptr;
    }
    s.join = reinterpret_cast<decltype(s.join)>(
        reinterpret_cast<void*>(GetProcAddress(s.library, "AvSetMmThreadCharacteristicsW")));
    s.leave = reinterpret_cast<decltype(s.leave)>(
        reinterpret_cast<void*>(GetProcAddress(s.library, "AvRevertMmThreadCharacteristics")));
  }
  const auto join = s.join;
  LeaveCriticalSection(&s.lock);
  return join ? join(L"Pro Audio", taskIndex) : nullptr;
}

void LeaveProAudioTask(HANDLE task) {
  Scheduler& s = ProcessScheduler();
  if (task && s.leave) s.leave(task);
}

int CMMEWAVEOUT::ThreadMain() {
  CAUDIODEVICE* device = new (std::nothrow) CWASAPIOUT();
  if (!device) {
    openResult = MMSYSERR_NOMEM;
    SetEvent(startedEvent);
    return 1;
  }
  deviceFormat = clientFormat;
  if (!device->Open(deviceIndex, deviceFormat, renderEvent, deviceBufferFrames, latencyFrames,
                    openResult, deviceName, 64)) {
    delete device;
    SetEvent(startedEvent);
    return 1;
  }
  periodTicks = PeriodTicks(counterFrequency, deviceBufferFrames, deviceFormat.sampleRate);
  waitTimeout = WaitTimeoutMs(deviceBufferFrames, deviceFormat.sampleRate);
  openResult = MMSYSERR_NOERROR;
  SetEvent(startedEvent);

  const HANDLE thread = GetCurrentThread();
  const int savedPriority = GetThreadPriority(thread);
  SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
  SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
  SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
  DWORD taskIndex = 0;
  const HANDLE task = JoinProAudioTask(&taskIndex);

  const HANDLE events[3] = {renderEvent, quitEvent, wakeEvent};
  DWORD timeout = INFINITE;
  int64_t t0 = CounterNow();
  DWORD wait = WaitForMultipleObjects(3, events, FALSE, timeout);
  int64_t t1 = CounterNow();
  while (wait != WAIT_OBJECT_0 + 1) {
    EnterCriticalSection(&queueLock);
    if (paused || !queueHead) {
      IdlePass(*device, t1, timeout);
    } else {
      timeout = waitTimeout;
      if (wait == WAIT_OBJECT_0 + 2) {
        // A write armed the finite time-out; nothing more to do yet.
      } else if (wait == WAIT_TIMEOUT) {
        if (WaitForSingleObject(renderEvent, 0) == WAIT_OBJECT_0) {
          RenderPass(*device, t1);
        } else if (running) {
          if ((t1 - t0) * 1000 / counterFrequency >= static_cast<int64_t>(timeout)) {
            SetEvent(renderEvent);  // no period signal for 2.9 buffers: force a pass
          }
        } else if (framesWritten != framesConsumed &&
                   t1 - lastWriteTime >= static_cast<int64_t>(periodTicks)) {
          SetEvent(renderEvent);  // the pre-roll has waited long enough
        }
      } else if (wait == WAIT_OBJECT_0) {
        RenderPass(*device, t1);
      } else {
        LeaveCriticalSection(&queueLock);
        break;
      }
    }
    LeaveCriticalSection(&queueLock);
    t0 = CounterNow();
    wait = WaitForMultipleObjects(3, events, FALSE, timeout);
    t1 = CounterNow();
  }

  LeaveProAudioTask(task);
  SetThreadPriority(thread, savedPriority);
  delete device;
  return 0;
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
