// The worker's render thread.
//
// How it works: the thread has the worker open the device on it (the device and
// its COM objects belong to this thread), raises itself to time-critical priority
// inside the "Pro Audio" scheduler task, and waits on the worker's render, quit and
// wake events. Every wake-up but the quit goes to the worker, which serves the
// device under its queue lock and sets the next wait's time-out; the thread starts
// with none. After the quit, or when the worker says so, the thread leaves the task,
// restores its priority and deletes the device on itself.
#include "engine/render_thread.h"

#include <avrt.h>

#include "devices/wasapi_out.h"

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

int RunRenderThread(RenderThreadClient& client, const HANDLE (&events)[3]) {
  CAUDIODEVICE* device = client.OpenDevice();
  if (!device) return 1;

  const HANDLE thread = GetCurrentThread();
  const int savedPriority = GetThreadPriority(thread);
  SetThreadPriority(thread, THREAD_PRIORITY_ABOVE_NORMAL);
  SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
  SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
  DWORD taskIndex = 0;
  const HANDLE task = JoinProAudioTask(&taskIndex);

  DWORD timeout = INFINITE;
  int64_t t0 = CounterNow();
  DWORD wait = WaitForMultipleObjects(3, events, FALSE, timeout);
  int64_t t1 = CounterNow();
  while (wait != WAIT_OBJECT_0 + 1 && client.ServeWakeUp(*device, wait, t0, t1, timeout)) {
    t0 = CounterNow();
    wait = WaitForMultipleObjects(3, events, FALSE, timeout);
    t1 = CounterNow();
  }

  LeaveProAudioTask(task);
  SetThreadPriority(thread, savedPriority);
  delete device;
  return 0;
}
