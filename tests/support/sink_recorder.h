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
  SinkRecorder(const TempDir& dir, int seconds) : path_(dir.Path() + "\\capture.raw") {
    const std::string unixPath = UnixPath(path_);
    if (unixPath.empty()) return;
    std::string command = "/usr/bin/timeout " + std::to_string(seconds) +
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

  // Waits for the recorder to end and reads what it captured.
  std::vector<int16_t> Samples() {
    if (started_) WaitForSingleObject(pi_.hProcess, 20000);
    // Wine may signal a Unix child's handle before the child is done, so the
    // recording's own length is waited out too, with time for parec to flush.
    const DWORD now = GetTickCount();
    const int32_t left = static_cast<int32_t>(endTick_ - now);
    Sleep(left > 0 ? static_cast<DWORD>(left) + 500 : 500);
    std::vector<int16_t> samples;
    HANDLE file = CreateFileA(path_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return samples;
    const DWORD size = GetFileSize(file, nullptr);
    samples.resize(size / 2);
    DWORD read = 0;
    ReadFile(file, samples.data(), size & ~1u, &read, nullptr);
    CloseHandle(file);
    return samples;
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

  std::string path_;
  PROCESS_INFORMATION pi_{};
  bool started_ = false;
  DWORD endTick_ = 0;
};


// Walks `signal` from sample `from` through `got`, finding each stretch and
// following it sample by sample. Returns the number of separate stretches needed
// (1: the whole rest of the signal is in the recording unbroken), or 0 when some
// part of it is not in the recording at all.
inline int StretchesInRecording(const std::vector<int16_t>& got, const std::vector<int16_t>& signal,
                                size_t from) {
  const size_t probeLength = 2 * 256;
  size_t i = from;
  size_t searchFrom = 0;
  int stretches = 0;
  while (i + probeLength <= signal.size()) {
    size_t at = SIZE_MAX;
    for (size_t j = searchFrom; j + probeLength <= got.size(); j += 2) {
      if (std::memcmp(&got[j], &signal[i], probeLength * 2) == 0) {
        at = j;
        break;
      }
    }
    if (at == SIZE_MAX) {
      std::fprintf(stderr, "recording: samples %zu to %zu of %zu not found in %zu recorded (%d stretches before)\n",
                   i, i + probeLength, signal.size(), got.size(), stretches);
      return 0;
    }
    ++stretches;
    while (i < signal.size() && at < got.size() && got[at] == signal[i]) {
      ++i;
      ++at;
    }
    searchFrom = at;
  }
  return stretches;
}
