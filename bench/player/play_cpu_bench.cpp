// What playing costs: the processor time the player process uses while it plays a
// 16-bit stereo 44.1 kHz file on the wave mapper, beside the limit no player can
// beat, a bare wave-out writer of the same file (four buffers of 100 ms, nothing
// else) in the same session. Each is a process of its own, measured over the same
// span once its sound runs; the player's share is broken down by thread (the
// dialog's thread, the feeder and the system's own threads).
//   play_cpu_bench [--seconds=N] [Google Benchmark flags]
// The program runs itself with --bare-writer FILE SECONDS for the writer.
#include <benchmark/benchmark.h>
#include <windows.h>
#include <mmsystem.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/e2e/player_process.h"
#include "tests/support/temp_dir.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kBlock = 4;
constexpr uint32_t kBufferBytes = kRate * kBlock / 10;  // 100 ms
constexpr int kBuffers = 4;
constexpr DWORD kSettleMs = 3000;  // the sound runs and the window has settled
// The window's private message that puts the name box's text on top of the history.
constexpr UINT kRememberFile = 2024;
int g_measureSeconds = 15;

uint64_t Ticks(const FILETIME& t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; }

struct ThreadCpu {
  DWORD id;
  uint64_t created;
  uint64_t cpu;
};

std::vector<ThreadCpu> ThreadsOf(DWORD processId) {
  std::vector<ThreadCpu> threads;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return threads;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != processId) continue;
    HANDLE thread = OpenThread(THREAD_QUERY_INFORMATION, FALSE, entry.th32ThreadID);
    if (!thread) continue;
    FILETIME created, exited, kernel, user;
    if (GetThreadTimes(thread, &created, &exited, &kernel, &user)) {
      threads.push_back({entry.th32ThreadID, Ticks(created), Ticks(kernel) + Ticks(user)});
    }
    CloseHandle(thread);
  }
  std::sort(threads.begin(), threads.end(),
            [](const ThreadCpu& a, const ThreadCpu& b) { return a.created < b.created; });
  return threads;
}

// Kernel plus user time of a process's threads, in 100 ns units. (Summed over the
// threads because Wine answers GetProcessTimes for another process with next to
// nothing, while each thread's times are read from the system.)
uint64_t ProcessCpu(DWORD processId) {
  uint64_t total = 0;
  for (const ThreadCpu& t : ThreadsOf(processId)) total += t.cpu;
  return total;
}

// A 16-bit stereo WAVE of noise, long enough to play through the measurement.
std::string WriteNoiseWave(const TempDir& dir, uint32_t seconds, const std::string& name = "playing.wav") {
  const uint32_t data = seconds * kRate * kBlock;
  std::string bytes(44 + data, '\0');
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&bytes[at], &v, 4); };
  auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&bytes[at], &v, 2); };
  std::memcpy(&bytes[0], "RIFF", 4);
  put32(4, 36 + data);
  std::memcpy(&bytes[8], "WAVEfmt ", 8);
  put32(16, 16);
  put16(20, 1);
  put16(22, 2);
  put32(24, kRate);
  put32(28, kRate * kBlock);
  put16(32, kBlock);
  put16(34, 16);
  std::memcpy(&bytes[36], "data", 4);
  put32(40, data);
  uint32_t seed = 12345;
  for (size_t i = 44; i + 1 < bytes.size(); i += 2) {
    seed = seed * 1103515245u + 12345u;
    const int16_t sample = static_cast<int16_t>((seed >> 16) % 4001) - 2000;
    std::memcpy(&bytes[i], &sample, 2);
  }
  return dir.Write(name, std::vector<uint8_t>(bytes.begin(), bytes.end()));
}

// The bare writer: the file's data in four 100 ms buffers on the wave mapper, each
// written again as it comes back, until `seconds` have passed.
int RunBareWriter(const char* path, int seconds) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  const DWORD size = GetFileSize(file, nullptr);
  std::vector<char> bytes(size);
  DWORD got = 0;
  ReadFile(file, bytes.data(), size, &got, nullptr);
  CloseHandle(file);
  if (got < 44 + kBufferBytes) return 1;
  WAVEFORMATEX format{WAVE_FORMAT_PCM, 2, kRate, kRate * kBlock, kBlock, 16, 0};
  HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HWAVEOUT out = nullptr;
  if (waveOutOpen(&out, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(done), 0, CALLBACK_EVENT)) return 1;
  WAVEHDR headers[kBuffers] = {};
  std::vector<char> buffers(kBuffers * kBufferBytes);
  const size_t dataBytes = (got - 44) / kBufferBytes * kBufferBytes;
  size_t at = 0;
  auto fill = [&](WAVEHDR& h) {
    std::memcpy(h.lpData, &bytes[44 + at], kBufferBytes);
    at = (at + kBufferBytes) % dataBytes;
    waveOutWrite(out, &h, sizeof h);
  };
  for (int i = 0; i < kBuffers; ++i) {
    headers[i].lpData = &buffers[i * kBufferBytes];
    headers[i].dwBufferLength = kBufferBytes;
    waveOutPrepareHeader(out, &headers[i], sizeof headers[i]);
    fill(headers[i]);
  }
  const DWORD end = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
  while (static_cast<int32_t>(end - GetTickCount()) > 0) {
    WaitForSingleObject(done, 200);
    for (WAVEHDR& h : headers) {
      if (h.dwFlags & WHDR_DONE) fill(h);
    }
  }
  waveOutReset(out);
  for (WAVEHDR& h : headers) waveOutUnprepareHeader(out, &h, sizeof h);
  waveOutClose(out);
  CloseHandle(done);
  return 0;
}

struct Sample {
  uint64_t processCpu;
  std::vector<ThreadCpu> threads;
};

Sample Take(DWORD id) {
  Sample sample{0, ThreadsOf(id)};
  for (const ThreadCpu& t : sample.threads) sample.processCpu += t.cpu;
  return sample;
}

// CPU milliseconds per second of playing between two samples.
double PerSecond(uint64_t before, uint64_t after, DWORD elapsedMs) {
  return elapsedMs ? (after - before) / 10000.0 * 1000.0 / elapsedMs : 0;
}

double g_bareWriter = 0;

void BM_BareWaveOutWriter(benchmark::State& state) {
  TempDir dir;
  const std::string path = WriteNoiseWave(dir, 30);
  char self[MAX_PATH];
  GetModuleFileNameA(nullptr, self, sizeof self);
  for (auto _ : state) {
    const int seconds = g_measureSeconds + kSettleMs / 1000 + 2;
    std::string command = "\"" + std::string(self) + "\" --bare-writer \"" + path + "\" " + std::to_string(seconds);
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(self, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      state.SkipWithError("the bare writer did not start");
      return;
    }
    Sleep(kSettleMs);
    const uint64_t before = ProcessCpu(pi.dwProcessId);
    const DWORD t0 = GetTickCount();
    Sleep(static_cast<DWORD>(g_measureSeconds) * 1000);
    const uint64_t after = ProcessCpu(pi.dwProcessId);
    const DWORD elapsed = GetTickCount() - t0;
    WaitForSingleObject(pi.hProcess, 30000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    g_bareWriter = PerSecond(before, after, elapsed);
    state.SetIterationTime(elapsed / 1000.0);
  }
  state.counters["cpu_ms_per_s"] = g_bareWriter;
}

// The player on one long file, or (argument 1) on a list of two-second files of
// one format in sequential play, each read on into from the one before: the
// difference is what reading ahead and the changes cost.
void BM_Player(benchmark::State& state) {
  TempDir dir;
  const bool sequence = state.range(0) != 0;
  std::vector<std::string> paths;
  if (sequence) {
    const int files = g_measureSeconds / 2 + kSettleMs / 2000 + 3;
    for (int i = 0; i < files; ++i) paths.push_back(WriteNoiseWave(dir, 2, "part" + std::to_string(i) + ".wav"));
  } else {
    paths.push_back(WriteNoiseWave(dir, 30));
  }
  for (auto _ : state) {
    e2e::PlayerProcess player;
    if (!player.Window()) {
      state.SkipWithError("the player window did not appear");
      return;
    }
    player.SelectDevice(0);
    for (size_t i = paths.size(); sequence && i-- > 0;) {  // each to the top of the history
      player.TypeFileName(paths[i]);
      DWORD_PTR result = 0;
      SendMessageTimeoutA(player.Window(), kRememberFile, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    }
    if (sequence) {
      SendDlgItemMessageA(player.Window(), IDC_FILE_NAME, CB_SETCURSEL, 0, 0);
      player.SetCheck(IDC_SEQUENTIAL, true);
    }
    player.Play(paths[0]);
    if (!e2e::WaitUntil([&] { return player.Playing(); }, 30000)) {
      state.SkipWithError("the player did not start playing");
      return;
    }
    Sleep(kSettleMs);
    const Sample before = Take(player.Id());
    const DWORD t0 = GetTickCount();
    Sleep(static_cast<DWORD>(g_measureSeconds) * 1000);
    const Sample after = Take(player.Id());
    const DWORD elapsed = GetTickCount() - t0;
    state.SetIterationTime(elapsed / 1000.0);
    const double total = PerSecond(before.processCpu, after.processCpu, elapsed);
    state.counters["cpu_ms_per_s"] = total;
    if (g_bareWriter > 0) state.counters["x_bare_writer"] = total / g_bareWriter;
    // Threads by age: the dialog's thread is the oldest; each thread present at
    // both samples is reported as its share of the process's time.
    int index = 0;
    for (const ThreadCpu& t : after.threads) {
      uint64_t start = 0;
      for (const ThreadCpu& b : before.threads) {
        if (b.id == t.id) start = b.cpu;
      }
      const double share = PerSecond(start, t.cpu, elapsed);
      if (share >= 0.05) {
        char name[32];
        std::snprintf(name, sizeof name, "thread%02d_ms_per_s", index);
        state.counters[name] = share;
      }
      ++index;
    }
  }
}

}  // namespace

BENCHMARK(BM_BareWaveOutWriter)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Player)->Arg(0)->Arg(1)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--bare-writer") == 0) return RunBareWriter(argv[2], std::atoi(argv[3]));
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) {
      g_measureSeconds = std::max(1, std::atoi(argv[i] + 10));
    } else {
      rest.push_back(argv[i]);
    }
  }
  int count = static_cast<int>(rest.size());
  benchmark::Initialize(&count, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
