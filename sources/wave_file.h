// Opening a WAVE file for playback and reading it through the chunk walker.
#pragma once

#include <windows.h>

#include "sources/wave_source.h"

// Opens `path` for reading as playback needs it: read and write sharing (another
// program may keep writing a file while it plays), existing files only, the
// sequential-scan hint, and for temporary files delete-on-close, so that closing
// the handle removes the file on every way out. INVALID_HANDLE_VALUE on failure.
HANDLE OpenWaveFile(const char* path, bool deleteOnClose);

// Opens a converter's output while the converter still writes it: it holds the file
// without delete sharing, so delete-on-close cannot be asked yet; this handle shares
// deletion, so that the file can be marked for deletion once the converter is done.
HANDLE OpenGrowingWaveFile(const char* path);

// The chunk walker's view of a Win32 file handle; it does not own the handle.
class FileByteSource : public ByteSource {
 public:
  explicit FileByteSource(HANDLE file) : file_(file) {}
  uint32_t Read(void* buffer, uint32_t count) override;
  uint64_t Seek(uint32_t position) override;

 private:
  HANDLE file_;
};
