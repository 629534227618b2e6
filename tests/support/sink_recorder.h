// Records what PulseAudio's null sink plays, through parec (a Linux program that
// Wine starts like any other), for tests that compare it with what was written.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

// Attempts a recording test makes before it fails: Wine's mixer, not the code
// under test, may drop a period when the machine is starved of CPU.
constexpr int kRecordingAttempts = 3;

// Records the null sink's monitor for `seconds` as raw 16-bit stereo 44.1 kHz.
class SinkRecorder {
 public:
  // `server`, when given, is the socket of the audio server to record from.
  SinkRecorder(const TempDir& dir, int seconds, const std::string& name = "capture.raw",
               const std::string& server = std::string())
      : path_(dir.Path() + "\\" + name) {
    const std::string unixPath = UnixPath(path_);
    if (unixPath.empty()) return;
    std::string command = (server.empty() ? std::string() : "/usr/bin/env PULSE_SERVER=unix:" + server + " ") +
                          "/usr/bin/timeout " + std::to_string(seconds) +
                          " /usr/bin/parec -d nullsink.monitor --latency-msec=20 --format=s16le"
                          " --rate=44100 --channels=2 --raw " + unixPath;
    STARTUPINFOA si{};
    si.cb = sizeof si;
    started_ = CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                              &si, &pi_);
    endTick_ = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
  }
  ~SinkRecorder() {
    if (started_) {
      WaitForSingleObject(pi_.hProcess, 20000);
      CloseHandle(pi_.hThread);
      CloseHandle(pi_.hProcess);
    }
  }
  bool Started() const { return started_; }

  // How many bytes the recorder has written so far: a mark to read from later.
  size_t RecordedBytes() const {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return GetFileAttributesExA(path_.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
  }
  // What was recorded from `mark` (a byte count from RecordedBytes) up to now,
  // while the recorder goes on.
  std::vector<int16_t> SamplesSince(size_t mark) const { return ReadFile(mark); }

  // Ends the recorder before its time (parec flushes and exits on SIGINT).
  void Stop() {
    if (!started_ || stopped_) return;
    stopped_ = true;
    std::string command = "/usr/bin/pkill -INT -f " + UnixPath(path_);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      WaitForSingleObject(pi.hProcess, 5000);
      CloseHandle(pi.hThread);
      CloseHandle(pi.hProcess);
    }
    // As in Samples(): the child's handle may be signalled before it is gone.
    Sleep(500);
  }

  // Waits for the recorder to end and reads what it captured.
  std::vector<int16_t> Samples() {
    if (started_) WaitForSingleObject(pi_.hProcess, 20000);
    // Wine may signal a Unix child's handle before the child is done, so the
    // recording's own length is waited out too, with time for parec to flush.
    const DWORD now = GetTickCount();
    const int32_t left = static_cast<int32_t>(endTick_ - now);
    if (!stopped_) Sleep(left > 0 ? static_cast<DWORD>(left) + 500 : 500);
    return ReadFile(0);
  }

 private:
  // Wine's own translation of a Windows path to the Unix one (kernel32 exports it).
  static std::string UnixPath(const std::string& windowsPath) {
    using ToUnix = char*(CDECL*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) return std::string();
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH);
    char* unix = toUnix(wide);
    if (!unix) return std::string();
    std::string result(unix);
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
  }

  // The recording from byte `from` (rounded down to a whole frame) to its end.
  std::vector<int16_t> ReadFile(size_t from) const {
    std::vector<int16_t> samples;
    HANDLE file = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return samples;
    from -= from % 4;
    const DWORD size = GetFileSize(file, nullptr);
    if (size > from) {
      samples.resize((size - from) / 4 * 2);
      SetFilePointer(file, static_cast<LONG>(from), nullptr, FILE_BEGIN);
      DWORD read = 0;
      ::ReadFile(file, samples.data(), static_cast<DWORD>(samples.size() * 2), &read, nullptr);
      samples.resize(read / 2);
    }
    CloseHandle(file);
    return samples;
  }

  std::string path_;
  PROCESS_INFORMATION pi_{};
  bool started_ = false;
  bool stopped_ = false;
  DWORD endTick_ = 0;
};
