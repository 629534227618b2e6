// One run of the outside converter for a preparation job: the program found by
// name, the source described (by the converter, or by a FLAC file's own header),
// the converter started with its error output on a pipe, its progress read from
// that pipe, and the window told once when the file it writes can begin to play.
#include <cstdio>
#include <string>

#include "rex/standard_search.h"
#include "sources/converter_progress.h"
#include "sources/file_kind.h"
#include "sources/preparation_job.h"
#include "sources/source_stream.h"
#include "sources/wave_file.h"

namespace {

constexpr DWORD kConverterLookMs = 100;
// How often the target is looked at until it can begin to play.
constexpr DWORD kReadyLookMs = 20;
// How long the source's description may take, and how much of it is kept.
constexpr DWORD kDescribeLimitMs = 30000;
constexpr size_t kDescriptionBytes = 65536;

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
  char commandLine[2 * kPathCapacity];
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

}  // namespace

// Describes the source, then runs the converter and waits for it or the cancel
// event, telling the window once when the target can begin to play; true when it
// ran and exited with 0.
bool RunConverter(PreparationJob& job) {
  // Named in full: CreateProcess's own search would look in the current directory,
  // the folder of a document opened by double-click, second.
  char program[kPathCapacity];
  if (!FindInStandardSearch(kConverterProgram, program, sizeof program)) return false;
  // A lossy-only kind needs no description: its output is 16-bit, and the length
  // comes with the converter's own first lines. That saves a process start.
  // A FLAC file describes itself in its first bytes.
  SourceStream stream;
  char name[kPathCapacity], extension[kPathCapacity];
  SplitFileName(job.request.source, name, extension, sizeof extension);
  if (!OnlyLossyExtension(extension) && !ReadFlacHeader(job.request.source, &stream) &&
      !DescribeSource(job, program, &stream)) {
    return false;
  }
  std::snprintf(job.request.codec, sizeof job.request.codec, "%s", stream.codec);
  job.request.durationMs = stream.durationMs;
  std::snprintf(job.request.outputCodec, sizeof job.request.outputCodec, "%s", ConverterOutputCodec(stream));
  char commandLine[3 * kPathCapacity];
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
