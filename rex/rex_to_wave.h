// Rendering a REX loop file into a 16-bit PCM WAVE file through the REX library.
#pragma once

#include <windows.h>

#include <cstdint>

// A loop file mapped read-only into memory; everything is released on destruction.
class MappedInputFile {
 public:
  MappedInputFile() = default;
  ~MappedInputFile() { Close(); }
  MappedInputFile(const MappedInputFile&) = delete;
  MappedInputFile& operator=(const MappedInputFile&) = delete;

  // Maps the whole of an existing file of 1 byte up to 2 GiB - 1 (the library is
  // told the size in a signed 32-bit number). False, with nothing left open, on
  // any failure.
  bool Open(const char* path);
  void Close();

  const char* View() const { return static_cast<const char*>(view_); }
  uint32_t Size() const { return size_; }

 private:
  void* view_ = nullptr;
  HANDLE file_ = INVALID_HANDLE_VALUE;
  HANDLE mapping_ = nullptr;
  uint32_t size_ = 0;
};

// Renders the loop at `rexPath` at `*tempo` (thousandths of a bpm; 0 or no pointer
// for the loop's own) into `outputPath`, or when that is empty or null into
// "<rexPath>.<bpm>.wav". On return `*tempo` holds the tempo used. 0 on success,
// -1 on any failure. Loads the library before and unloads it after.
int RenderRexToWave(const char* rexPath, const char* outputPath, uint32_t* tempo);
