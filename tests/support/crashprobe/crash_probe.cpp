// A program that crashes on purpose, on a thread of its own as the player's
// workers would: the test prefix must print the crash with its backtrace and end
// the process within seconds, never leave it waiting for a debugger.
#include <windows.h>

#include <cstdio>

namespace {

__attribute__((noinline)) void WriteThroughNull(volatile int* where) { *where = 1; }

DWORD WINAPI CrashingThread(void*) {
  WriteThroughNull(nullptr);
  return 0;
}

}  // namespace

int main() {
  std::printf("crash_probe: writing through a null pointer on a worker thread\n");
  std::fflush(stdout);
  HANDLE thread = CreateThread(nullptr, 0, CrashingThread, nullptr, 0, nullptr);
  if (thread) WaitForSingleObject(thread, INFINITE);
  std::printf("crash_probe: still running after the crash\n");
  return 0;
}
