// Writes the device list this process sees, one "index<TAB>display name" line per
// entry after a "W=<count>" line, as UTF-8 into the file named on the command line.
// The device tests run it as a child process where a test needs a fresh process
// (the system version is read once per process).
#include <windows.h>

#include <cstdio>
#include <string>

#include "devices/output_devices.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  FILE* out = std::fopen(argv[1], "wb");
  if (!out) return 3;
  const uint32_t w = WasapiDeviceCount();
  std::fprintf(out, "W=%u\n", w);
  const uint32_t total = w + waveOutGetNumDevs();
  for (uint32_t i = kWaveMapperIndex; i == kWaveMapperIndex || i < total; ++i) {
    OutputDeviceCaps caps;
    if (GetOutputDeviceCaps(i, &caps) != MMSYSERR_NOERROR) {
      std::fprintf(out, "%d\t<error>\n", static_cast<int>(i));
      continue;
    }
    char name[256];
    WideCharToMultiByte(CP_UTF8, 0, caps.displayName, -1, name, sizeof(name), nullptr, nullptr);
    std::fprintf(out, "%d\t%s\n", static_cast<int>(i), name);
  }
  std::fclose(out);
  return 0;
}
