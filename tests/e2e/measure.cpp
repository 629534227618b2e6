// Soak run and measurements of the player process, reported on standard output.
#include "tests/e2e/measure.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/e2e/player_process.h"
#include "tests/e2e/signals.h"
#include "tests/support/temp_dir.h"

namespace e2e {
namespace {

constexpr uint64_t kLargeFileBytes = uint64_t{1} << 30;
constexpr DWORD kLargeWriteChunk = 1 << 20;
constexpr DWORD kSampleEveryMs = 10000;

SIZE_T PeakWorkingSet(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  return GetProcessMemoryInfo(process, &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;
}
SIZE_T WorkingSet(HANDLE process) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  return GetProcessMemoryInfo(process, &counters, sizeof counters) ? counters.WorkingSetSize : 0;
}

// A 16-bit stereo WAVE of `bytes` data bytes of noise, written in chunks.
bool WriteLargeWave(const std::string& path, uint64_t bytes) {
  wavebytes::Bytes header = Pcm16Wave({});
  const uint32_t data = static_cast<uint32_t>(bytes);
  const uint32_t riff = data + 36;
  std::memcpy(&header[4], &riff, 4);
  std::memcpy(&header[40], &data, 4);
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(file, header.data(), static_cast<DWORD>(header.size()), &written, nullptr);
  const std::vector<int16_t> chunk = NoiseSamples(kLargeWriteChunk / 4, 5);
  for (uint64_t done = 0; done < bytes; done += kLargeWriteChunk) {
    WriteFile(file, chunk.data(), kLargeWriteChunk, &written, nullptr);
  }
  CloseHandle(file);
  return true;
}

// Wine answers GetProcessTimes for another process with zeros at times; its host's
// /proc (drive Z:) has the figures of the newest process running the player's exe.
uint64_t HostCpuMs() {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
  if (search == INVALID_HANDLE_VALUE) return UINT64_MAX;
  uint64_t best = UINT64_MAX;
  unsigned long bestPid = 0;
  do {
    const unsigned long pid = std::strtoul(found.cFileName, nullptr, 10);
    if (pid == 0 || pid < bestPid) continue;
    const std::string folder = std::string("Z:\\proc\\") + found.cFileName;
    char text[1024] = "";
    HANDLE f = CreateFileA((folder + "\\cmdline").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) continue;
    DWORD n = 0;
    ReadFile(f, text, sizeof text - 1, &n, nullptr);
    CloseHandle(f);
    text[n] = '\0';
    if (!std::strstr(text, "Vexatone.exe")) continue;
    f = CreateFileA((folder + "\\stat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) continue;
    ReadFile(f, text, sizeof text - 1, &n, nullptr);
    CloseHandle(f);
    text[n] = '\0';
    // After the command name in brackets: state is field 3, utime and stime 14 and 15, in 1/100 s.
    const char* p = std::strrchr(text, ')');
    for (int field = 2; p && field < 14; ++field) p = std::strchr(p + 1, ' ');
    if (!p) continue;
    char* end = nullptr;
    const uint64_t user = std::strtoull(p + 1, &end, 10);
    const uint64_t system = std::strtoull(end, nullptr, 10);
    best = (user + system) * 10;
    bestPid = pid;
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return best;
}

uint64_t CpuMs(HANDLE process) {
  const uint64_t host = HostCpuMs();
  if (host != UINT64_MAX) return host;
  FILETIME created, exited, kernel, user;
  if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return 0;
  const auto ms = [](const FILETIME& t) { return ((uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 10000; };
  return ms(kernel) + ms(user);
}

// Runs a command line and waits; its exit code, or -1 when it did not start.
int RunAndWait(std::string commandLine, DWORD* elapsedMs = nullptr) {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const DWORD started = GetTickCount();
  if (!CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                      &pi)) {
    return -1;
  }
  CloseHandle(pi.hThread);
  WaitForSingleObject(pi.hProcess, INFINITE);
  if (elapsedMs) *elapsedMs = GetTickCount() - started;
  DWORD code = 1;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  return static_cast<int>(code);
}

}  // namespace

int RunConversionMeasurements() {
  const std::string converter = TreeFile(VEX_REAL_CONVERTER);
  const std::string quoted = "\"" + converter + "\" -nostdin -loglevel error -y ";
  TempDir dir;
  PathInFront path(FolderOf(VEX_REAL_CONVERTER));
  struct Kind {
    const char* name;
    const char* encoder;
  } kinds[] = {{"hour.mp3", "-acodec libmp3lame -b:a 192k"}, {"hour.flac", "-acodec flac"}};
  for (const Kind& kind : kinds) {
    const std::string song = dir.Path() + "\\" + kind.name;
    // An hour of a 440 Hz tone with a little noise, stereo, 44.1 kHz.
    if (RunAndWait(quoted + "-f lavfi -i \"sine=frequency=440:sample_rate=44100:duration=3600\" -f lavfi -i "
                   "\"anoisesrc=color=pink:amplitude=0.05:sample_rate=44100:duration=3600\" -filter_complex "
                   "amix=inputs=2,pan=stereo|c0=c0|c1=c0 " + kind.encoder + " \"" + song + "\"") != 0) {
      std::printf("measure: could not make %s\n", kind.name);
      return 1;
    }
    DWORD aloneMs = 0;
    const std::string plain = dir.Path() + "\\alone.wav";
    RunAndWait(quoted + "-i \"" + song + "\" -acodec pcm_s16le \"" + plain + "\"", &aloneMs);
    PlayerProcess player;
    if (!player.Window()) return 1;
    player.SelectDevice(0);
    const uint64_t cpuBefore = CpuMs(player.Process());
    const DWORD start = GetTickCount();
    player.Play(song);
    DWORD firstBufferMs = 0, convertedMs = 0;
    std::string seen;
    while (GetTickCount() - start < 120000 && !convertedMs) {
      const std::string status = player.Text(IDC_STATUS);
      if (status != seen && !firstBufferMs) {
        seen = status;
        std::printf("measure:   %5lu ms  %s\n", GetTickCount() - start, status.substr(0, status.find('\r')).c_str());
      }
      // The device line after a write; without the device's details, "waveOutWrite(n) is OK".
      if (!firstBufferMs && (status.rfind("MME ", 0) == 0 || status.rfind("waveOutWrite(", 0) == 0)) {
        firstBufferMs = GetTickCount() - start;
      }
      if (status == "Converted") convertedMs = GetTickCount() - start;
      Sleep(5);
    }
    const uint64_t cpu = CpuMs(player.Process()) - cpuBefore;
    std::printf("measure: %s: the converter alone %lu ms; in the player: first buffer written %lu ms after Start, "
                "converted after %lu ms; the player's CPU meanwhile %llu ms (%.1f %% of one core)\n",
                kind.name, aloneMs, firstBufferMs, convertedMs, static_cast<unsigned long long>(cpu),
                convertedMs ? 100.0 * static_cast<double>(cpu) / convertedMs : 0.0);
    std::printf("measure: %s format line: %s\n", kind.name, player.Text(IDC_FORMAT).c_str());
    player.Close();
    // The same time playing the decoded file as a plain WAVE file: what playing costs by itself.
    PlayerProcess plainPlayer;
    if (!plainPlayer.Window()) return 1;
    plainPlayer.SelectDevice(0);
    const uint64_t plainBefore = CpuMs(plainPlayer.Process());
    plainPlayer.Play(plain);
    Sleep(convertedMs);
    std::printf("measure: %s: the player's CPU over the same time playing the decoded WAVE file: %llu ms (%s)\n",
                kind.name, static_cast<unsigned long long>(CpuMs(plainPlayer.Process()) - plainBefore),
                plainPlayer.Text(IDC_FORMAT).c_str());
    std::fflush(stdout);
    plainPlayer.Close();
    DeleteFileA(plain.c_str());
  }
  return 0;
}

int RunSoak(int minutes) {
  TempDir dir;
  const std::string path = dir.Write("soak.wav", Pcm16Wave(NoiseSamples(kSinkRate * 20, 3)));
  PlayerProcess player;
  if (!player.Window()) return 1;
  std::printf("soak: %d minutes; working set in KiB every %lu s\n", minutes, kSampleEveryMs / 1000);
  const DWORD end = GetTickCount() + static_cast<DWORD>(minutes) * 60000;
  DWORD nextSample = 0;
  int seeks = 0;
  // Times the player said it waits for its device: a device that never stopped is never reopened.
  int waits = 0;
  bool waiting = false;
  while (static_cast<int32_t>(end - GetTickCount()) > 0 && player.Running()) {
    if (!player.Playing()) player.Play(path);
    player.Command(seeks % 3 == 2 ? IDC_BACKWARD : IDC_FORWARD);
    ++seeks;
    for (int look = 0; look < 7; ++look) {
      Sleep(100);
      const bool now = player.Text(IDC_STATUS).rfind("Waiting for '", 0) == 0;
      if (now && !waiting) ++waits;
      waiting = now;
    }
    if (static_cast<int32_t>(GetTickCount() - nextSample) >= 0) {
      std::printf("soak: t=%lus seeks=%d workingSet=%llu peak=%llu responsive=%d\n",
                  (GetTickCount() - (end - static_cast<DWORD>(minutes) * 60000)) / 1000, seeks,
                  static_cast<unsigned long long>(WorkingSet(player.Process()) / 1024),
                  static_cast<unsigned long long>(PeakWorkingSet(player.Process()) / 1024),
                  player.Responsive() ? 1 : 0);
      std::fflush(stdout);
      nextSample = GetTickCount() + kSampleEveryMs;
    }
  }
  const bool closed = player.Close();
  std::printf("soak: closed=%d exit=%lu device waits=%d\n", closed ? 1 : 0, player.ExitCode(), waits);
  return closed ? 0 : 1;
}

int RunMeasurements() {
  {
    PlayerProcess player;
    if (!player.Window()) return 1;
    std::printf("measure: process start to window shown: %lu ms\n", GetTickCount() - player.StartTick());
  }
  TempDir dir;
  const std::string path = dir.Path() + "\\large.wav";
  if (!WriteLargeWave(path, kLargeFileBytes)) return 1;
  PlayerProcess player;
  if (!player.Window()) return 1;
  player.SelectDevice(0);
  player.Play(path);
  if (!WaitUntil([&] { return player.Playing(); }, 30000)) return 1;
  std::printf("measure: playing a 1 GiB WAVE; sample the CPU from Linux now (ps -o pid,time,cmd -C Vexatone.exe)\n");
  std::fflush(stdout);
  for (int i = 0; i < 6; ++i) {
    Sleep(5000);
    std::printf("measure: t=%ds workingSet=%llu KiB peak=%llu KiB\n", 5 * (i + 1),
                static_cast<unsigned long long>(WorkingSet(player.Process()) / 1024),
                static_cast<unsigned long long>(PeakWorkingSet(player.Process()) / 1024));
    std::fflush(stdout);
  }
  player.Close();
  DeleteFileA(path.c_str());
  return 0;
}

}  // namespace e2e
