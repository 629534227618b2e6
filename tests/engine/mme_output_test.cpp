// The output handle on Wine's real wave-out (PulseAudio's null sink): what was
// written is what the sink's monitor records, and open/close cycles leak nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "devices/output_devices.h"
#include "engine/output_handle.h"
#include "tests/support/temp_dir.h"
#include "tests/support/watchdog.h"

namespace {

WaveFormat Pcm16(uint16_t channels, uint32_t rate) {
  WaveFormat f;
  f.Allocate(18);
  f.SetU16(0, 1);
  f.SetU16(2, channels);
  f.SetU32(4, rate);
  f.SetU32(8, rate * channels * 2);
  f.SetU16(12, static_cast<uint16_t>(channels * 2));
  f.SetU16(14, 16);
  return f;
}

uintptr_t HandleProbe() {
  HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  CloseHandle(probe);
  return reinterpret_cast<uintptr_t>(probe);
}

// Records the null sink's monitor for `seconds` with parec, a Linux program that
// Wine starts like any other; returns the raw 16-bit stereo 44.1 kHz file's path.
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
    Sleep(300);  // the exit code of a Unix child is not reliable; give it time to flush
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
};

TEST(MmeOutput, OpensTheMapperAndANumberedDeviceAndReportsThem) {
  HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  const uint32_t firstMme = WasapiDeviceCount();
  ASSERT_GE(waveOutGetNumDevs(), 1u) << "PulseAudio's devices are there";
  // The wave mapper opens, plays and closes like any device; what it reports is
  // the system's word on a mapped handle, so only a numbered device is checked.
  OutputHandle* mapped = nullptr;
  ASSERT_EQ(OutputOpen(&mapped, WAVE_MAPPER, Pcm16(2, 44100), reinterpret_cast<DWORD_PTR>(done),
                       CALLBACK_EVENT),
            MMSYSERR_NOERROR);
  EXPECT_EQ(OutputClose(mapped), MMSYSERR_NOERROR);
  for (uint32_t index : {firstMme}) {
    SCOPED_TRACE(index);
    OutputHandle* output = nullptr;
    ASSERT_EQ(OutputOpen(&output, index, Pcm16(2, 44100), reinterpret_cast<DWORD_PTR>(done),
                         CALLBACK_EVENT),
              MMSYSERR_NOERROR);
    uint32_t kind = 9, rate = 0, bits = 0, channels = 0;
    char name[64] = {};
    ASSERT_EQ(QueryOutputInfo(output, &kind, &rate, &bits, &channels, name), MMSYSERR_NOERROR);
    EXPECT_EQ(kind, static_cast<uint32_t>(kOutputKindMme));
    EXPECT_EQ(rate, 44100u);
    EXPECT_EQ(bits, 16u);
    EXPECT_EQ(channels, 2u);
    EXPECT_NE(name[0], '\0');
    // The name is the one of the device the system says the handle belongs to
    // (under Wine a handle opened on MME device 0 may report another id).
    UINT id = 99;
    ASSERT_EQ(waveOutGetID(reinterpret_cast<HWAVEOUT>(output->target), &id), MMSYSERR_NOERROR);
    WAVEOUTCAPSA opened{};
    ASSERT_EQ(waveOutGetDevCapsA(id, &opened, sizeof opened), MMSYSERR_NOERROR);
    EXPECT_STREQ(name, opened.szPname);
    EXPECT_EQ(OutputClose(output), MMSYSERR_NOERROR);
  }
  CloseHandle(done);
}

TEST(MmeOutput, NullSinkRecordsExactlyWhatWasWritten) {
  TempDir dir;
  // Three seconds of pseudo-random 16-bit stereo: any slip, gap or repeat shows.
  const uint32_t frames = 44100 * 3;
  std::vector<int16_t> signal(frames * 2);
  uint32_t x = 12345;
  for (int16_t& s : signal) {
    x = x * 1664525u + 1013904223u;
    s = static_cast<int16_t>(x >> 16);
  }
  SinkRecorder recorder(dir, 6);
  ASSERT_TRUE(recorder.Started()) << "parec could not be started";
  Sleep(1500);  // the recorder may miss its own first moments

  HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  OutputHandle* output = nullptr;
  ASSERT_EQ(OutputOpen(&output, WAVE_MAPPER, Pcm16(2, 44100), reinterpret_cast<DWORD_PTR>(done),
                       CALLBACK_EVENT),
            MMSYSERR_NOERROR);
  std::vector<WAVEHDR> headers(6);
  const uint32_t bytesPerHeader = frames * 4 / 6;
  for (size_t i = 0; i < headers.size(); ++i) {
    std::memset(&headers[i], 0, sizeof(WAVEHDR));
    headers[i].lpData = reinterpret_cast<LPSTR>(signal.data()) + i * bytesPerHeader;
    headers[i].dwBufferLength = bytesPerHeader;
    ASSERT_EQ(OutputPrepare(output, &headers[i]), MMSYSERR_NOERROR);
    ASSERT_EQ(OutputWrite(output, &headers[i]), MMSYSERR_NOERROR);
  }
  for (WAVEHDR& h : headers) {
    while (!(h.dwFlags & WHDR_DONE)) WaitForSingleObject(done, 50);
  }
  Sleep(300);
  ASSERT_EQ(OutputReset(output), MMSYSERR_NOERROR);
  for (WAVEHDR& h : headers) ASSERT_EQ(OutputUnprepare(output, &h), MMSYSERR_NOERROR);
  ASSERT_EQ(OutputClose(output), MMSYSERR_NOERROR);
  CloseHandle(done);

  const std::vector<int16_t> got = recorder.Samples();
  ASSERT_GT(got.size(), signal.size()) << "the recording holds the whole play";
  // Wine silences a new stream's first frames: so walk the signal from a point well past its start, finding each
  // stretch in the recording and demanding that the next stretch carries on
  // exactly where the last one stopped. Nothing may be missing or repeated.
  const size_t probeLength = 2 * 256;
  size_t i = 2 * 4096;
  size_t from = 0;
  int stretches = 0;
  while (i + probeLength <= signal.size()) {
    size_t at = SIZE_MAX;
    for (size_t j = from; j + probeLength <= got.size(); j += 2) {
      if (std::memcmp(&got[j], &signal[i], probeLength * 2) == 0) {
        at = j;
        break;
      }
    }
    ASSERT_NE(at, SIZE_MAX) << "signal sample " << i << " is not in the recording";
    ++stretches;
    while (i < signal.size() && at < got.size() && got[at] == signal[i]) {
      ++i;
      ++at;
    }
    from = at;
  }
  EXPECT_EQ(stretches, 1) << "one unbroken stretch";
}

TEST(MmeOutput, ThousandCyclesLeaveNoHandleBehind) {
  HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::vector<int16_t> data(2 * 512, 100);
  WAVEHDR header{};
  auto cycle = [&] {
    OutputHandle* output = nullptr;
    if (OutputOpen(&output, WAVE_MAPPER, Pcm16(2, 44100), reinterpret_cast<DWORD_PTR>(done),
                   CALLBACK_EVENT) != MMSYSERR_NOERROR) {
      return false;
    }
    std::memset(&header, 0, sizeof header);
    header.lpData = reinterpret_cast<LPSTR>(data.data());
    header.dwBufferLength = static_cast<DWORD>(data.size() * 2);
    return OutputPrepare(output, &header) == MMSYSERR_NOERROR &&
           OutputWrite(output, &header) == MMSYSERR_NOERROR &&
           OutputPause(output) == MMSYSERR_NOERROR && OutputRestart(output) == MMSYSERR_NOERROR &&
           OutputReset(output) == MMSYSERR_NOERROR &&
           OutputUnprepare(output, &header) == MMSYSERR_NOERROR &&
           OutputClose(output) == MMSYSERR_NOERROR;
  };
  ASSERT_TRUE(cycle());
  const uintptr_t before = HandleProbe();
  {
    Watchdog watchdog("1000 wave-out output cycles", 300);
    for (int i = 0; i < 1000; ++i) ASSERT_TRUE(cycle()) << "cycle " << i;
  }
  EXPECT_EQ(HandleProbe(), before) << "kernel handles leaked";
  CloseHandle(done);
}

}  // namespace
