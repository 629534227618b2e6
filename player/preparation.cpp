// The preparation thread.
//
// How it works: the window creates the temporary file, then a job that owns a copy
// of the request, a manual-reset cancel event and the thread. A conversion runs the
// converter with its error output on a pipe (the one handle it inherits) and, every
// 100 ms until the converter ends or the cancel event is set, reads what arrived
// and keeps the percentage. A REX render calls the library, which cannot be
// interrupted. The job is shared by the window and the thread and freed by the
// last of the two to let go; whoever lets go last of a job whose result was never
// taken deletes the temporary file. The thread reaches the window only by
// PostMessage and never takes the session lock.
#include "player/preparation.h"

#include <cstdio>
#include <new>

#include "player/converter_progress.h"
#include "player/playback_rules.h"
#include "rex/rex_to_wave.h"
#include "rex/standard_search.h"

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
  bool succeeded;
};

namespace {

constexpr DWORD kConverterLookMs = 100;
// How long a cancel waits for the thread of an ended converter.
constexpr DWORD kCancelWaitMs = 5000;

void Release(PreparationJob* job) {
  if (InterlockedDecrement(&job->references) != 0) return;
  if (!job->resultTaken) DeleteFileA(job->request.target);
  CloseHandle(job->cancelEvent);
  CloseHandle(job->thread);
  delete job;
}

// Reads whatever the converter has written so far, without waiting.
void ReadAvailable(HANDLE pipe, ConverterProgress& progress) {
  char bytes[4096];
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
    DWORD read = 0;
    if (!ReadFile(pipe, bytes, available < sizeof bytes ? available : sizeof bytes, &read, nullptr) || read == 0) {
      return;
    }
    progress.Read(bytes, read);
  }
}

// Runs the converter and waits for it or the cancel event; true when it ran and
// exited with 0.
bool RunConverter(PreparationJob& job) {
  char commandLine[3 * MAX_PATH];
  if (!ConverterCommandLine(commandLine, sizeof commandLine, job.request.source, job.request.target)) return false;
  // Named in full: CreateProcess's own search would look in the current directory,
  // the folder of a document opened by double-click, second.
  char program[MAX_PATH];
  if (!FindInStandardSearch(kConverterProgram, program, sizeof program)) return false;
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return false;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdError = writeEnd;  // the progress; nothing else of the player is inheritable
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessA(program, commandLine, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                      nullptr, &startup, &process);
  CloseHandle(writeEnd);  // the converter's copy alone keeps the pipe open
  if (!started) {
    CloseHandle(readEnd);
    return false;
  }
  CloseHandle(process.hThread);
  ConverterProgress progress;
  const HANDLE events[2] = {job.cancelEvent, process.hProcess};
  DWORD exitCode = 1;
  for (;;) {
    const DWORD wait = WaitForMultipleObjects(2, events, FALSE, kConverterLookMs);
    ReadAvailable(readEnd, progress);
    InterlockedExchange(&job.percent, progress.Percent());
    if (wait == WAIT_OBJECT_0 + 1) {
      if (!GetExitCodeProcess(process.hProcess, &exitCode)) exitCode = 1;
      break;
    }
    if (wait != WAIT_TIMEOUT) {  // cancelled, or the wait itself failed
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, kCancelWaitMs);
      break;
    }
  }
  CloseHandle(process.hProcess);
  CloseHandle(readEnd);
  return exitCode == 0;
}

DWORD WINAPI PreparationThread(void* parameter) {
  PreparationJob& job = *static_cast<PreparationJob*>(parameter);
  if (job.request.kind == PreparationKind::Conversion) {
    job.succeeded = RunConverter(job);
  } else {
    job.succeeded = RenderRexToWave(job.request.source, job.request.target, &job.request.tempo) == 0;
  }
  if (WaitForSingleObject(job.cancelEvent, 0) != WAIT_OBJECT_0) {
    PostMessageA(job.window, MSG_PREPARATION_DONE, job.serial, 0);
  }
  Release(&job);
  return 0;
}

}  // namespace

PreparationJob* StartPreparation(HWND window, const PreparationRequest& request, uint32_t serial) {
  PreparationJob* job = new (std::nothrow) PreparationJob{};
  if (!job) return nullptr;
  job->request = request;
  job->window = window;
  job->serial = serial;
  job->startTick = GetTickCount();
  job->percent = -1;
  job->references = 2;
  job->resultTaken = 1;  // until the thread runs, a failure leaves the target to the caller
  job->cancelEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (job->cancelEvent) {
    job->thread = CreateThread(nullptr, 0, PreparationThread, job, CREATE_SUSPENDED, nullptr);
  }
  if (!job->thread) {
    if (job->cancelEvent) CloseHandle(job->cancelEvent);
    delete job;
    return nullptr;
  }
  job->resultTaken = 0;
  ResumeThread(job->thread);
  return job;
}

int PreparationPercent(const PreparationJob* job) { return static_cast<int>(job->percent); }
uint32_t PreparationSerial(const PreparationJob* job) { return job->serial; }
uint32_t PreparationElapsedMs(const PreparationJob* job) { return GetTickCount() - job->startTick; }

bool FinishPreparation(PreparationJob* job, PreparationRequest* request) {
  WaitForSingleObject(job->thread, INFINITE);  // it has posted: only its return is left
  *request = job->request;
  const bool succeeded = job->succeeded;
  if (succeeded) InterlockedExchange(&job->resultTaken, 1);
  Release(job);
  return succeeded;
}

HANDLE CancelPreparation(PreparationJob* job) {
  SetEvent(job->cancelEvent);
  HANDLE still = nullptr;
  if (WaitForSingleObject(job->thread, job->request.kind == PreparationKind::Conversion ? kCancelWaitMs : 0) !=
      WAIT_OBJECT_0) {
    DuplicateHandle(GetCurrentProcess(), job->thread, GetCurrentProcess(), &still, SYNCHRONIZE, FALSE, 0);
  }
  Release(job);
  return still;
}
