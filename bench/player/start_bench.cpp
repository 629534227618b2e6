// How soon a play starts: from the Start command sent to the main dialog until the
// feeder has written the first buffer (wave mapper and the simulated WASAPI
// endpoint), and until the simulated device was started with the first frames.
// For a WAVE file, a REX loop rendered through the stand-in library, and an ".mp3"
// converted by the stand-in converter, whose own run (from the status text
// "Converting to wav file ..." to "Converted") is taken out of the figure.
// Beside them, the limit no start can beat: a plain read of the first buffer's
// bytes from the same file.
#include <benchmark/benchmark.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/counter.h"
#include "devices/engine_tuning.h"
#include "devices/output_devices.h"
#include "rex/rex_library.h"
#include "rex/rex_to_wave.h"
#include "tests/window/player_dialog.h"
#include "tests/support/host_path.h"
#include "tests/rex/rex_standin_files.h"
#include "tests/support/simwasapi/sim_wasapi.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr uint32_t kBufferBytes = 17640;  // the default buffer: 100 ms of 16-bit stereo
constexpr int32_t kRexFrames = 44100 * 2;  // one bar at 120 bpm

enum Kind { kWave, kRex, kConverted };

struct Setup {
  TempDir dir;
  TempDir libraryDir;
  std::string path[3];
  simwasapi::SimWasapi sim;
  size_t endpoint = 0;
  Setup() {
    path[kWave] = dir.Write("start.wav", playertest::NoiseWave(44100 * 2, 3));
    path[kConverted] = dir.Write("start.mp3", playertest::NoiseWave(44100 * 2, 3));
    rexfiles::Loop loop;
    for (int c = 0; c < 2; ++c) {
      for (int32_t i = 0; i < kRexFrames; ++i) loop.samples[c].push_back(static_cast<float>((i * 7 + c) % 200) / 400.0f);
    }
    path[kRex] = dir.Write("start.rx2", loop.Bytes());
    // The stand-in REX library and converter are found on the search path, as a
    // user's installed copies would be. The stand-in's call log, kept for the
    // tests in an environment variable rewritten with every call, is switched off.
    SetEnvironmentVariableA("VEX_REX_STANDIN_QUIET", "1");
    CopyFileA(WindowsPath(VEX_REX_LIBRARY).c_str(), (libraryDir.Path() + "\\" + rexfiles::kPlainName).c_str(), FALSE);
    char old[32767] = "";
    GetEnvironmentVariableA("PATH", old, sizeof old);
    SetEnvironmentVariableA("PATH", (WindowsPath(VEX_CONVERTER_DIR) + ";" + libraryDir.Path() + ";" + old).c_str());
    ProcessEndpointCache().Release();
    ProcessEngineTuning() = EngineTuning{};
    ProcessEngineTuning().lastReadTick = GetTickCount();
    simwasapi::EndpointTraits traits;
    traits.id = L"{bench}.start";
    traits.friendlyName = L"Simulated Speakers";
    endpoint = sim.AddEndpoint(traits);
  }
};

Setup& Shared() {
  static Setup setup;
  return setup;
}

// With VEX_START_TRACE set, one start on each device is traced first: every text the
// dialog sets on its way, with the time since the Start command.
struct Mark {
  int64_t at;
  std::string text;
};
std::vector<Mark>& Marks() {
  static std::vector<Mark> marks;
  return marks;
}
// The time between two texts set on the way, or 0 when either was not seen.
double SecondsBetween(const char* first, const char* second) {
  int64_t from = 0, to = 0;
  for (const Mark& m : Marks()) {
    if (m.text.find(first) != std::string::npos) from = m.at;
    if (m.text.find(second) != std::string::npos && from) to = m.at;
  }
  return from && to ? CounterSeconds(to - from) : 0;
}
LRESULT CALLBACK MarkStatus(int code, WPARAM wParam, LPARAM lParam) {
  const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && sent->message == WM_SETTEXT && sent->lParam) {
    Marks().push_back({Counter(), std::to_string(GetDlgCtrlID(sent->hwnd)) + " " +
                                      reinterpret_cast<const char*>(sent->lParam)});
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// range(0): 0 the wave mapper, 1 the simulated endpoint; range(1): the file's Kind.
void BM_StartToFirstBuffer(benchmark::State& state) {
  Setup& s = Shared();
  const bool simulated = state.range(0) == 1;
  const Kind kind = static_cast<Kind>(state.range(1));
  state.SetLabel(std::string(simulated ? "simulated endpoint, " : "wave mapper, ") +
                 (kind == kWave ? "WAVE" : kind == kRex ? "REX loop" : "converted .mp3 without the converter's run"));
  playertest::PlayerDialog d;
  const LRESULT entry = simulated ? static_cast<LRESULT>(1 + kDefaultRoleCount) : 0;
  SendDlgItemMessageA(d.Window(), IDC_DEVICE, CB_SETCURSEL, entry, 0);
  d.Command(IDC_DEVICE, CBN_SELCHANGE);
  d.SetText(IDC_FILE_NAME, s.path[kind]);
  double deviceSeconds = 0;
  double converterSeconds = 0;
  if (getenv("VEX_START_TRACE")) {
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROC, MarkStatus, nullptr, GetWindowThreadProcessId(d.Window(), nullptr));
    Marks().clear();
    const int64_t t0 = Counter();
    d.Command(IDC_START);
    const int64_t t1 = Counter();
    UnhookWindowsHookEx(hook);
    for (const Mark& m : Marks()) std::printf("%8.2f ms  %s\n", 1000 * CounterSeconds(m.at - t0), m.text.c_str());
    std::printf("%8.2f ms  Start handled\n", 1000 * CounterSeconds(t1 - t0));
    d.Command(IDC_STOP);
  }
  // Only for a conversion are the texts marked while measuring: the marks tell the converter's run.
  const DWORD dialogThread = GetWindowThreadProcessId(d.Window(), nullptr);
  for (auto _ : state) {
    HHOOK hook = kind == kConverted ? SetWindowsHookExA(WH_CALLWNDPROC, MarkStatus, nullptr, dialogThread) : nullptr;
    Marks().clear();
    const int64_t t0 = Counter();
    d.Command(IDC_START);
    // The feeder counts the bytes it wrote since the start; read without the lock,
    // as a probe only.
    const volatile uint32_t* queued = &d.Session().bytesQueued;
    while (*queued == 0 && d.Playing()) {
    }
    const int64_t t1 = Counter();
    if (hook) UnhookWindowsHookEx(hook);
    if (*queued == 0) {
      state.SkipWithError("the start did not write a buffer");
      break;
    }
    double converter = 0;
    if (kind == kConverted) {
      converter = SecondsBetween("Converting to wav file ...", "Converted");
      if (converter == 0) {
        state.SkipWithError("the conversion's status texts were not seen");
        break;
      }
      converterSeconds += converter;
    }
    state.SetIterationTime(CounterSeconds(t1 - t0) - converter);
    if (simulated) {
      playertest::PlayerDialog::WaitUntil([&] { return s.sim.StartCounter(s.endpoint) > t0; }, 5000);
      deviceSeconds += CounterSeconds(s.sim.StartCounter(s.endpoint) - t0);
      deviceSeconds -= converter;
    }
    d.Command(IDC_STOP);
  }
  if (simulated && state.iterations() > 0) {
    state.counters["to_device_start_ms"] = 1000.0 * deviceSeconds / static_cast<double>(state.iterations());
  }
  if (kind == kConverted && state.iterations() > 0) {
    state.counters["converter_run_ms"] = 1000.0 * converterSeconds / static_cast<double>(state.iterations());
  }
}

void BM_ReadFirstBuffer(benchmark::State& state) {
  Setup& s = Shared();
  std::string buffer(kBufferBytes, '\0');
  for (auto _ : state) {
    HANDLE file = CreateFileA(s.path[kWave].c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD got = 0;
    SetFilePointer(file, 44, nullptr, FILE_BEGIN);
    ReadFile(file, &buffer[0], kBufferBytes, &got, nullptr);
    CloseHandle(file);
    benchmark::DoNotOptimize(got);
  }
}

// The REX start's own work, apart: finding and loading the library (and unloading
// it), and the whole render of the loop into a temporary WAVE file.
void BM_RexLoadAndUnload(benchmark::State& state) {
  Shared();
  for (auto _ : state) {
    if (LoadRexLibrary() != kRexLoadOk) {
      state.SkipWithError("the stand-in library did not load");
      break;
    }
    UnloadRexLibrary();
  }
}

void BM_RexRenderToWave(benchmark::State& state) {
  Setup& s = Shared();
  const std::string out = s.dir.Path() + "\\rendered.wav";
  for (auto _ : state) {
    uint32_t tempo = 0;
    if (RenderRexToWave(s.path[kRex].c_str(), out.c_str(), &tempo) != 0) {
      state.SkipWithError("the render failed");
      break;
    }
  }
  DeleteFileA(out.c_str());
}

}  // namespace

BENCHMARK(BM_RexLoadAndUnload)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RexRenderToWave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StartToFirstBuffer)
    ->ArgsProduct({{0, 1}, {kWave, kRex, kConverted}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(40);
BENCHMARK(BM_ReadFirstBuffer)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
