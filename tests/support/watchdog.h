// Ends the test process when a stretch of a test does not finish in time: a
// deadlock then fails the run at once instead of hanging it until ctest's limit.
#pragma once

#include <windows.h>

#include <cstdio>

class Watchdog {
 public:
  Watchdog(const char* what, DWORD seconds) : what_(what), seconds_(seconds) {
    done_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Watch, this, 0, nullptr);
  }
  ~Watchdog() {
    SetEvent(done_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(done_);
  }
  Watchdog(const Watchdog&) = delete;
  Watchdog& operator=(const Watchdog&) = delete;

 private:
  static DWORD WINAPI Watch(void* self) {
    Watchdog& w = *static_cast<Watchdog*>(self);
    if (WaitForSingleObject(w.done_, w.seconds_ * 1000) == WAIT_TIMEOUT) {
      std::fprintf(stderr, "watchdog: %s did not finish within %lu s (deadlock?)\n", w.what_,
                   static_cast<unsigned long>(w.seconds_));
      std::fflush(stderr);
      ExitProcess(3);
    }
    return 0;
  }
  const char* what_;
  DWORD seconds_;
  HANDLE done_;
  HANDLE thread_;
};
