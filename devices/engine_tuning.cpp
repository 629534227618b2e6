// The output-engine tuning values from Software\VOZEVOZER.
#include "devices/engine_tuning.h"

#include <windows.h>

namespace {

constexpr char kTuningKey[] = "Software\\VOZEVOZER";
constexpr char kBufferLengthValue[] = "WASAPIBufferLength";
constexpr char kMaxBitLengthValue[] = "WASAPIMaxBitLength";

EngineTuning g_tuning;

// Replaces `value` with the named registry value when it is exactly 4 bytes long.
void ReadWord(HKEY key, const char* name, uint32_t& value) {
  BYTE bytes[4];
  DWORD size = sizeof(bytes);
  if (RegQueryValueExA(key, name, nullptr, nullptr, bytes, &size) != ERROR_SUCCESS) return;
  if (size != sizeof(bytes)) return;
  value = static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
          static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

}  // namespace

EngineTuning& ProcessEngineTuning() { return g_tuning; }

void ReadEngineTuning() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kTuningKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
    ReadWord(key, kBufferLengthValue, g_tuning.wasapiBufferLength);
    ReadWord(key, kMaxBitLengthValue, g_tuning.wasapiMaxBitLength);
    RegCloseKey(key);
  }
  g_tuning.lastReadTick = GetTickCount();
}

bool TuningRereadDue(uint32_t now, uint32_t lastReadTick) {
  return now - lastReadTick >= kTuningRereadIntervalMs;
}
