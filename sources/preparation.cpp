// The preparation thread.
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

#include <cstdio>
#include <mutex>
#include <new>
#include <string>

#include "rex/rex_to_wave.h"
#include "rex/standard_search.h"
#include "sources/converter_progress.h"
#include "sources/file_kind.h"
#include "sources/source_stream.h"
#include "sources/wave_file.h"

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

namespace {

constexpr DWORD kConverterLookMs = 100;
// How often the target is looked at until it can begin to play.
constexpr DWORD kReadyLookMs = 20;
// How long the source's description may take, and how much of it is kept.
constexpr DWORD kDescribeLimitMs = 30000;
constexpr size_t kDescriptionBytes = 65536;
// How long a cancel waits for the thread of an ended converter.
constexpr DWORD kCancelWaitMs = 5000;

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

// Reads whatever the converter has written so far, without waiting.
void ReadAvailable(HANDLE pipe, ConverterProgress* progress, std::string* text) {
  char bytes[4096];
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
    DWORD read = 0;
    if (!ReadFile(pipe, bytes, available < sizeof bytes ? available : sizeof bytes, &read, nullptr) || read == 0) {
      return;
    }
    if (progress) progress->Read(bytes, read);
    if (text && text->size() < kDescriptionBytes) text->append(bytes, read);
  }
}

// A converter process with its error output on a pipe (the one handle it inherits).
struct Child {
  HANDLE process = nullptr;
  HANDLE output = nullptr;
  ~Child() {
    if (process) CloseHandle(process);
    if (output) CloseHandle(output);
  }
};

bool StartChild(const char* program, char* commandLine, Child& child) {
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&child.output, &writeEnd, &inheritable, 0)) return false;
  SetHandleInformation(child.output, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdError = writeEnd;  // nothing else of the player is inheritable
  PROCESS_INFORMATION process{};
  const BOOL started = CreateProcessA(program, commandLine, nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                      nullptr, &startup, &process);
  CloseHandle(writeEnd);  // the converter's copy alone keeps the pipe open
  if (!started) return false;
  CloseHandle(process.hThread);
  child.process = process.hProcess;
  return true;
}

// Ends a child the job no longer waits for.
void EndChild(Child& child) {
  TerminateProcess(child.process, 1);
  WaitForSingleObject(child.process, kCancelWaitMs);
}

// Asks the converter what the source holds ("-i" alone: it describes the source
// and ends with a non-zero code, which is no failure here). An empty description
// when it told nothing; false when cancelled.
bool DescribeSource(PreparationJob& job, const char* program, SourceStream* stream) {
  char commandLine[2 * MAX_PATH];
  if (std::snprintf(commandLine, sizeof commandLine, "%s -i \"%s\"", kConverterProgram, job.request.source) >=
      static_cast<int>(sizeof commandLine)) {
    return true;
  }
  Child child;
  if (!StartChild(program, commandLine, child)) return true;
  std::string text;
  const HANDLE events[2] = {job.cancelEvent, child.process};
  const DWORD started = GetTickCount();
  for (;;) {
    const DWORD wait = WaitForMultipleObjects(2, events, FALSE, kConverterLookMs);
    ReadAvailable(child.output, nullptr, &text);
    if (wait == WAIT_OBJECT_0 + 1) break;
    if (wait != WAIT_TIMEOUT || GetTickCount() - started > kDescribeLimitMs) {
      EndChild(child);
      if (wait != WAIT_TIMEOUT) return false;
      break;
    }
  }
  ReadAvailable(child.output, nullptr, &text);
  *stream = ParseSourceStream(text.c_str());
  return true;
}

bool ReadFlacHeader(const char* path, SourceStream* stream) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  uint8_t bytes[26];
  DWORD read = 0;
  const bool ok = ReadFile(file, bytes, sizeof bytes, &read, nullptr) && ReadFlacStreamInfo(bytes, read, stream);
  CloseHandle(file);
  return ok;
}

// Whether the target holds a whole WAVE header and half a second of sound.
bool TargetReady(const char* target) {
  HANDLE file = CreateFileA(target, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  WaveSource wave;
  FileByteSource bytes(file);
  LARGE_INTEGER size{};
  const bool ready = ReadWaveSource(bytes, wave) == WaveReadResult::Ok && GetFileSizeEx(file, &size) &&
                     static_cast<uint64_t>(size.QuadPart) >= uint64_t{wave.dataOffset} +
                                                                 wave.format.AvgBytesPerSec() / 2 + 1;
  CloseHandle(file);
  return ready;
}

// Describes the source, then runs the converter and waits for it or the cancel
// event, telling the window once when the target can begin to play; true when it
// ran and exited with 0.
bool RunConverter(PreparationJob& job) {
  // Named in full: CreateProcess's own search would look in the current directory,
  // the folder of a document opened by double-click, second.
  char program[MAX_PATH];
  if (!FindInStandardSearch(kConverterProgram, program, sizeof program)) return false;
  // A lossy-only kind needs no description: its output is 16-bit, and the length
  // comes with the converter's own first lines. That saves a process start.
  // A FLAC file describes itself in its first bytes.
  SourceStream stream;
  char name[MAX_PATH], extension[MAX_PATH];
  SplitFileName(job.request.source, name, extension, sizeof extension);
  if (!OnlyLossyExtension(extension) && !ReadFlacHeader(job.request.source, &stream) &&
      !DescribeSource(job, program, &stream)) {
    return false;
  }
  std::snprintf(job.request.codec, sizeof job.request.codec, "%s", stream.codec);
  job.request.durationMs = stream.durationMs;
  std::snprintf(job.request.outputCodec, sizeof job.request.outputCodec, "%s", ConverterOutputCodec(stream));
  char commandLine[3 * MAX_PATH];
  if (!ConverterCommandLine(commandLine, sizeof commandLine, job.request.source, job.request.outputCodec,
                            job.request.target)) {
    return false;
  }
  Child child;
  if (!StartChild(program, commandLine, child)) return false;
  ConverterProgress progress;
  const HANDLE events[2] = {job.cancelEvent, child.process};
  DWORD exitCode = 1;
  bool readyTold = false;
  for (;;) {
    const DWORD wait = WaitForMultipleObjects(2, events, FALSE, readyTold ? kConverterLookMs : kReadyLookMs);
    ReadAvailable(child.output, &progress, nullptr);
    InterlockedExchange(&job.percent, progress.Percent());
    if (wait == WAIT_OBJECT_0 + 1) {
      if (!GetExitCodeProcess(child.process, &exitCode)) exitCode = 1;
      break;
    }
    if (wait != WAIT_TIMEOUT) {  // cancelled, or the wait itself failed
      EndChild(child);
      break;
    }
    if (!readyTold && TargetReady(job.request.target)) {
      readyTold = true;
      if (job.request.durationMs == 0) job.request.durationMs = progress.DurationMs();
      PostMessageA(job.window, MSG_PREPARATION_READY, job.serial, 0);
    }
  }
  InterlockedExchange(&job.running, 0);
  return exitCode == 0;
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
