// The boot-up mutex that orders concurrent starts of the player: a process owns it
// from before its entry point until its main window has initialised, so a second
// start waits for the first window to exist before it looks for it.
#pragma once

#include <windows.h>

extern const char kBootMutexName[];  // "$mtx_BootUp_VexatoneExe@ZEMBRIX$"
constexpr DWORD kBootMutexWaitMs = 5000;

class BootMutex {
 public:
  BootMutex() = default;
  ~BootMutex() { Close(); }
  BootMutex(const BootMutex&) = delete;
  BootMutex& operator=(const BootMutex&) = delete;

  // Creates or opens the named mutex without taking it, then waits for it at most
  // `waitMs`. Owned after the wait, also when the previous owner ended without
  // releasing it; after a time-out, or when the mutex cannot be had, not owned.
  void Acquire(DWORD waitMs);
  // Releases it when owned; the handle stays open.
  void Release();
  // Releases when owned and closes the handle.
  void Close();
  bool Owned() const { return owned_; }

 private:
  HANDLE mutex_ = nullptr;
  bool owned_ = false;
};

// The process's boot-up mutex.
BootMutex& ProcessBootMutex();

// The main window calls this when it has finished initialising.
void ReleaseBootMutex();
