// Opening a WAVE file for playback and reading it through the chunk walker.
#include "sources/wave_file.h"

HANDLE OpenWaveFile(const char* path, bool deleteOnClose) {
  DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
  if (deleteOnClose) flags |= FILE_FLAG_DELETE_ON_CLOSE;
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                     OPEN_EXISTING, flags, nullptr);
}

HANDLE OpenGrowingWaveFile(const char* path) {
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

uint32_t FileByteSource::Read(void* buffer, uint32_t count) {
  DWORD read = 0;
  if (!ReadFile(file_, buffer, count, &read, nullptr)) return 0;
  return read;
}

uint64_t FileByteSource::Seek(uint32_t position) {
  LARGE_INTEGER to;
  to.QuadPart = position;
  LARGE_INTEGER reached;
  if (!SetFilePointerEx(file_, to, &reached, FILE_BEGIN)) return ~0ull;
  return static_cast<uint64_t>(reached.QuadPart);
}
