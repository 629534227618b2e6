// The process's boot-up mutex.
#include "app/boot_mutex.h"

const char kBootMutexName[] = "$mtx_BootUp_VexatoneExe@ZEMBRIX$";

void BootMutex::Acquire(DWORD waitMs) {
  Close();
  mutex_ = CreateMutexA(nullptr, FALSE, kBootMutexName);
  if (!mutex_) return;
  const DWORD waited = WaitForSingleObject(mutex_, waitMs);
  // An abandoned mutex is owned all the same: its previous owner ended while starting.
  owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

void BootMutex::Release() {
  if (owned_ && mutex_) ReleaseMutex(mutex_);
  owned_ = false;
}

void BootMutex::Close() {
  Release();
  if (mutex_) CloseHandle(mutex_);
  mutex_ = nullptr;
}

BootMutex& ProcessBootMutex() {
  static BootMutex mutex;
  return mutex;
}

void ReleaseBootMutex() { ProcessBootMutex().Release(); }
