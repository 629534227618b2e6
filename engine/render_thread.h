// The render thread of a playback worker: it has the worker open the device on
// itself, runs at time-critical priority inside the "Pro Audio" scheduler task, and
// hands every wake-up of its three events to the worker, which serves the device.
#pragma once

#include <windows.h>

#include <cstdint>

class CAUDIODEVICE;

// All the render thread knows of the worker it serves.
class RenderThreadClient {
 public:
  // Creates and opens the device on the calling thread, derives the timings from
  // it and sets the opener's started signal, also on failure (the opener then has
  // the code). The device, which the thread deletes, or null.
  virtual CAUDIODEVICE* OpenDevice() = 0;
  // One wake-up of the thread: `wait` is what the wait on the render, quit and wake
  // events (in this order) returned, but never the quit event; t0 and t1 are the
  // counter values read just before and just after the wait. Serves the device
  // under the worker's queue lock, taken for this call only, and sets the time-out
  // of the next wait. False when the thread is to end.
  virtual bool ServeWakeUp(CAUDIODEVICE& device, DWORD wait, int64_t t0, int64_t t1,
                           DWORD& timeout) = 0;

 protected:
  ~RenderThreadClient() = default;
};

// The thread's body over the worker's render, quit and wake events (in this order):
// 0 after the quit event, 1 when no device was opened. Waits without a time-out
// until ServeWakeUp sets one.
int RunRenderThread(RenderThreadClient& client, const HANDLE (&events)[3]);

// Joins the "Pro Audio" task of the multimedia scheduler when "avrt.dll" of the
// system folder can be had; returns the registration handle or null. The library
// is loaded once for the process under its own lock and never unloaded.
HANDLE JoinProAudioTask(DWORD* taskIndex);
void LeaveProAudioTask(HANDLE task);
