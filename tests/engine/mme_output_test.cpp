// The output handle on Wine's real wave-out (PulseAudio's null sink): what was
// written is what the sink's monitor records, and open/close cycles leak nothing.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "devices/output_devices.h"
#include "engine/output_handle.h"
#include "tests/support/sink_recorder.h"
#include "tests/support/temp_dir.h"
#include "tests/support/underruns.h"
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

// Plays `signal` through the wave mapper while the null sink is recorded; whether
// the recording holds it whole (see RecordedWhole).
bool PlayAndRecord(const std::vector<int16_t>& signal) {
  TempDir dir;
  SinkRecorder recorder(dir, 9);
  if (!recorder.Started()) {
    ADD_FAILURE() << "parec could not be started";
    return false;
  }
  Sleep(1500);  // the recorder may miss its own first moments

  HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  OutputHandle* output = nullptr;
  EXPECT_EQ(OutputOpen(&output, WAVE_MAPPER, Pcm16(2, 44100), reinterpret_cast<DWORD_PTR>(done),
                       CALLBACK_EVENT),
            MMSYSERR_NOERROR);
  if (!output) return false;
  std::vector<WAVEHDR> headers(6);
  const uint32_t bytesPerHeader = static_cast<uint32_t>(signal.size() * 2 / 6);
  for (size_t i = 0; i < headers.size(); ++i) {
    std::memset(&headers[i], 0, sizeof(WAVEHDR));
    headers[i].lpData = reinterpret_cast<LPSTR>(const_cast<int16_t*>(signal.data())) + i * bytesPerHeader;
    headers[i].dwBufferLength = bytesPerHeader;
    EXPECT_EQ(OutputPrepare(output, &headers[i]), MMSYSERR_NOERROR);
    EXPECT_EQ(OutputWrite(output, &headers[i]), MMSYSERR_NOERROR);
  }
  for (WAVEHDR& h : headers) {
    while (!(h.dwFlags & WHDR_DONE)) WaitForSingleObject(done, 50);
  }
  Sleep(300);
  EXPECT_EQ(OutputReset(output), MMSYSERR_NOERROR);
  for (WAVEHDR& h : headers) EXPECT_EQ(OutputUnprepare(output, &h), MMSYSERR_NOERROR);
  EXPECT_EQ(OutputClose(output), MMSYSERR_NOERROR);
  CloseHandle(done);

  const std::vector<int16_t> got = recorder.Samples();
  EXPECT_GT(got.size(), signal.size()) << "the recording holds the whole play";
  // Wine silences a new stream's first frames: start well past them.
  return RecordedWhole(got, signal, 2 * 4096);
}

TEST(MmeOutput, NullSinkRecordsExactlyWhatWasWritten) {
  // Three seconds of pseudo-random 16-bit stereo: any slip, gap or repeat shows.
  const uint32_t frames = 44100 * 3;
  std::vector<int16_t> signal(frames * 2);
  uint32_t x = 12345;
  for (int16_t& s : signal) {
    x = x * 1664525u + 1013904223u;
    s = static_cast<int16_t>(x >> 16);
  }
  // Wine's own mixer can drop a period when the machine is starved of CPU; a fault
  // of ours would repeat in every attempt, so three attempts separate the two.
  bool whole = false;
  for (int attempt = 0; attempt < kRecordingAttempts && !whole; ++attempt) {
    whole = PlayAndRecord(signal);
    if (!whole) std::fprintf(stderr, "recording attempt %d: not whole\n", attempt + 1);
  }
  EXPECT_TRUE(whole) << "the signal sample for sample";
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
  // The lowest free handle value: a leaked handle takes it and moves it up. It may
  // move down when the system frees something of its own it held before the loop.
  EXPECT_LE(HandleProbe(), before) << "kernel handles leaked";
  CloseHandle(done);
}

}  // namespace
