// How soon a play starts: from the Start command sent to the main dialog until the
// feeder has written the first buffer (wave mapper and the simulated WASAPI
// endpoint), and until the simulated device was started with the first frames.
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
#include "tests/player/player_dialog.h"
#include "tests/support/simwasapi/sim_wasapi.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr uint32_t kBufferBytes = 17640;  // the default buffer: 100 ms of 16-bit stereo

struct Setup {
  TempDir dir;
  std::string path;
  simwasapi::SimWasapi sim;
  size_t endpoint = 0;
  Setup() {
    path = dir.Write("start.wav", playertest::NoiseWave(44100 * 2, 3));
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
LRESULT CALLBACK MarkStatus(int code, WPARAM wParam, LPARAM lParam) {
  const CWPSTRUCT* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && sent->message == WM_SETTEXT && sent->lParam) {
    Marks().push_back({Counter(), std::to_string(GetDlgCtrlID(sent->hwnd)) + " " +
                                      reinterpret_cast<const char*>(sent->lParam)});
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// range(0): 0 the wave mapper, 1 the simulated endpoint.
void BM_StartToFirstBuffer(benchmark::State& state) {
  Setup& s = Shared();
  const bool simulated = state.range(0) == 1;
  playertest::PlayerDialog d;
  const LRESULT entry = simulated ? static_cast<LRESULT>(1 + kDefaultRoleCount) : 0;
  SendDlgItemMessageA(d.Window(), IDC_DEVICE, CB_SETCURSEL, entry, 0);
  d.Command(IDC_DEVICE, CBN_SELCHANGE);
  d.SetText(IDC_FILE_NAME, s.path);
  double deviceSeconds = 0;
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
  for (auto _ : state) {
    const int64_t t0 = Counter();
    d.Command(IDC_START);
    // The feeder counts the bytes it wrote since the start; read without the lock,
    // as a probe only.
    const volatile uint32_t* queued = &d.Session().bytesQueued;
    while (*queued == 0 && d.Playing()) {
    }
    const int64_t t1 = Counter();
    if (*queued == 0) {
      state.SkipWithError("the start did not write a buffer");
      break;
    }
    state.SetIterationTime(CounterSeconds(t1 - t0));
    if (simulated) {
      playertest::PlayerDialog::WaitUntil([&] { return s.sim.StartCounter(s.endpoint) > t0; }, 5000);
      deviceSeconds += CounterSeconds(s.sim.StartCounter(s.endpoint) - t0);
    }
    d.Command(IDC_STOP);
  }
  if (simulated && state.iterations() > 0) {
    state.counters["to_device_start_ms"] = 1000.0 * deviceSeconds / static_cast<double>(state.iterations());
  }
}

void BM_ReadFirstBuffer(benchmark::State& state) {
  Setup& s = Shared();
  std::string buffer(kBufferBytes, '\0');
  for (auto _ : state) {
    HANDLE file = CreateFileA(s.path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD got = 0;
    SetFilePointer(file, 44, nullptr, FILE_BEGIN);
    ReadFile(file, &buffer[0], kBufferBytes, &got, nullptr);
    CloseHandle(file);
    benchmark::DoNotOptimize(got);
  }
}

}  // namespace

BENCHMARK(BM_StartToFirstBuffer)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(40);
BENCHMARK(BM_ReadFirstBuffer)->Unit(benchmark::kMicrosecond);
BENCHMARK_MAIN();
