// Holds a critical section for the life of a scope.
#pragma once

#include <windows.h>

// Entered on construction, left on every way out.
class ScopedLock {
 public:
  explicit ScopedLock(CRITICAL_SECTION& section) : section_(section) { EnterCriticalSection(&section_); }
  ~ScopedLock() { LeaveCriticalSection(&section_); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

 private:
  CRITICAL_SECTION& section_;
};
