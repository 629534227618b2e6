// The record a preparation job's thread and the window share, for the files of the
// job (sources/preparation.cpp, sources/converter_run.cpp); the window sees only
// the functions of sources/preparation.h.
#pragma once

#include <windows.h>

#include <cstdint>

#include "sources/preparation.h"

// How long a cancel waits for the thread of an ended converter.
constexpr DWORD kCancelWaitMs = 5000;

struct PreparationJob {
  PreparationRequest request;
  HWND window;
  uint32_t serial;
  DWORD startTick;
  HANDLE cancelEvent;
  HANDLE thread;
  volatile LONG references;  // the window's and the thread's
  volatile LONG percent;
  volatile LONG resultTaken;
  volatile LONG running;
  bool succeeded;
};

// Describes the source, then runs the converter and waits for it or the cancel
// event, telling the window once when the target can begin to play; true when it
// ran and exited with 0. On the job's thread.
bool RunConverter(PreparationJob& job);
