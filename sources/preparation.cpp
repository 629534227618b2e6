// The preparation thread: a REX render here, a conversion by
// sources/converter_run.cpp.
//
// How it works: the window creates the temporary file, then a job that owns a copy
// of the request, a manual-reset cancel event and the thread. A conversion first
// asks the converter to describe the source, which picks the output codec (a
// lossless source keeps its bits), then runs it with its error output on a pipe
// (the one handle it inherits) and, every 100 ms until the converter ends or the
// cancel event is set, reads what arrived and keeps the percentage. Until the
// target holds a header and half a second of sound it is looked at every 20 ms;
// then the window is told once that playback can begin while the converter writes. A REX render calls the library, which cannot be
// interrupted. The job is shared by the window and the thread and freed by the
// last of the two to let go; whoever lets go last of a job whose result was never
// taken deletes the temporary file. The thread reaches the window only by
// PostMessage and never takes the session lock.
#include "sources/preparation.h"

#include <mutex>
#include <new>

#include "rex/rex_to_wave.h"
#include "sources/preparation_job.h"

namespace {

// The REX library renders one loop at a time. A render that was cancelled goes on
// alone until the library returns; the next waits for it here, on its own thread,
// and a job cancelled while it waited renders nothing.
std::mutex g_rexRender;

void Release(PreparationJob* job) {
  if (InterlockedDecrement(&job->references) != 0) return;
  if (!job->resultTaken) DeleteFileA(job->request.target);
  CloseHandle(job->cancelEvent);
  CloseHandle(job->thread);
  delete job;
}

DWORD WINAPI PreparationThread(void* parameter) {
  PreparationJob& job = *static_cast<PreparationJob*>(parameter);
  if (job.request.kind == PreparationKind::Conversion) {
    job.succeeded = RunConverter(job);
  } else {
    std::lock_guard<std::mutex> oneAtATime(g_rexRender);
    job.succeeded = WaitForSingleObject(job.cancelEvent, 0) != WAIT_OBJECT_0 &&
                    RenderRexToWave(job.request.source, job.request.target, &job.request.tempo) == 0;
    InterlockedExchange(&job.running, 0);
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
  job->running = 1;
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

const PreparationRequest& PreparationRequestOf(const PreparationJob* job) { return job->request; }
bool PreparationRunning(const PreparationJob* job) { return job->running != 0; }

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
