// The device list and the WASAPI device on Wine's real audio drivers (PulseAudio's
// null sink in the test session), and the list when the system is too old for
// WASAPI, seen from a child process whose reported Windows version is XP.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

#include "devices/engine_tuning.h"
#include "devices/wasapi_out.h"
#include "win32/scoped_handle.h"

namespace {

std::string Utf8(const wchar_t* text) {
  char buffer[256];
  WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof(buffer), nullptr, nullptr);
  return buffer;
}

std::string DisplayName(OutputDeviceIndex index) {
  OutputDeviceCaps caps;
  if (GetOutputDeviceCaps(index, &caps) != MMSYSERR_NOERROR) return "<error>";
  return Utf8(caps.displayName);
}

std::string ExeDirectory() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text(path, n);
  return text.substr(0, text.find_last_of("\\/") + 1);
}

// Sets HKCU\Software\Wine\Version for child processes and puts back what was there.
class ReportedWindowsVersion {
 public:
  explicit ReportedWindowsVersion(const char* version) {
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine", 0, nullptr, 0,
                    KEY_READ | KEY_WRITE, nullptr, &key_, nullptr);
    DWORD size = sizeof(previous_);
    had_ = RegQueryValueExA(key_, "Version", nullptr, nullptr,
                            reinterpret_cast<BYTE*>(previous_), &size) == ERROR_SUCCESS;
    RegSetValueExA(key_, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                   static_cast<DWORD>(strlen(version) + 1));
  }
  ~ReportedWindowsVersion() {
    if (had_)
      RegSetValueExA(key_, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(previous_),
                     static_cast<DWORD>(strlen(previous_) + 1));
    else
      RegDeleteValueA(key_, "Version");
    RegCloseKey(key_);
  }
  ReportedWindowsVersion(const ReportedWindowsVersion&) = delete;
  ReportedWindowsVersion& operator=(const ReportedWindowsVersion&) = delete;

 private:
  HKEY key_ = nullptr;
  char previous_[64] = {};
  bool had_ = false;
};

// Runs the probe in a fresh process and returns what it wrote, or "" on failure.
std::string ProbeDeviceList() {
  char temp[MAX_PATH], file[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  GetTempFileNameA(temp, "vdl", 0, file);
  std::string command = "\"" + ExeDirectory() + "device_list_probe.exe\" \"" + file + "\"";
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return "";
  ScopedHandle processHandle(process.hProcess), threadHandle(process.hThread);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  in.close();
  DeleteFileA(file);
  return exitCode == 0 ? text.str() : "";
}

TEST(WasapiUnavailable, ListIsTheMapperAndTheMmeDevices) {
  std::string expected = "W=0\n-1\t" + DisplayName(kWaveMapperIndex) + "\n";
  const UINT mme = waveOutGetNumDevs();
  const uint32_t w = WasapiDeviceCount();
  ASSERT_GE(mme, 1u) << "the test session's null sink gives wave-out devices";
  for (UINT d = 0; d < mme; ++d) expected += std::to_string(d) + "\t" + DisplayName(w + d) + "\n";
  std::string seen;
  {
    ReportedWindowsVersion xp("winxp");
    seen = ProbeDeviceList();
  }
  EXPECT_EQ(seen, expected) << "index 0 is MME device 0 under Windows XP";
  // And with this prefix's own version the child lists WASAPI entries again.
  EXPECT_EQ(ProbeDeviceList().substr(0, 2 + std::to_string(w).size()), "W=" + std::to_string(w));
  ProcessEndpointCache().Release();
}

TEST(RealWineDevices, ListShowsBothKindsAndExclusiveOpenIsRefused) {
  ProcessEndpointCache().Release();
  ProcessEngineTuning() = EngineTuning{};
  ProcessEngineTuning().lastReadTick = GetTickCount();
  const uint32_t w = WasapiDeviceCount();
  const UINT mme = waveOutGetNumDevs();
  std::string list;
  for (uint32_t i = kWaveMapperIndex; i == kWaveMapperIndex || i < w + mme; ++i)
    list += std::to_string(static_cast<int>(i)) + ": " + DisplayName(i) + "\n";
  std::printf("Devices as listed:\n%s", list.c_str());
  ASSERT_GT(w, 3u) << "Wine lists its endpoints\n" << list;
  ASSERT_GE(mme, 1u) << list;
  EXPECT_EQ(DisplayName(3).rfind("WASAPI: ", 0), 0u);
  EXPECT_EQ(DisplayName(w).rfind("MME: ", 0), 0u);

  for (uint32_t i = 3; i < w; ++i) {
    ScopedHandle event(CreateEventA(nullptr, FALSE, FALSE, nullptr));
    CWASAPIOUT device;
    SampleFormat format;
    format.sampleRate = 44100;
    format.channels = 2;
    format.containerBits = 16;
    format.validBits = 16;
    format.blockAlign = 4;
    wchar_t name[64] = L"";
    uint32_t frames = 0, latency = 0, error = 0xDEAD;
    const bool ok = device.Open(i, format, event.Get(), frames, latency, error, name, 64);
    std::printf("Open %u (%s): %s, error %u\n", i, Utf8(name).c_str(), ok ? "opened" : "refused",
                error);
    EXPECT_FALSE(ok) << "Wine refuses exclusive event-driven mode";
    EXPECT_EQ(error, 11u) << "the refusal is no code of its own: MMSYSERR_INVALPARAM";
  }
  ProcessEndpointCache().Release();
}

}  // namespace
