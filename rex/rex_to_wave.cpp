// One render, self-contained: load the library, map the loop, create a REX handle,
// render, delete the handle, unload the library, and unmap the loop last.
#include "rex/rex_to_wave.h"

#include "rex/rex_library.h"
#include "rex/rex_render.h"

namespace {

constexpr int kRenderSucceeded = 0;
constexpr int kRenderFailed = -1;
// The library takes the size as a signed 32-bit number.
constexpr uint64_t kMaxLoopFileBytes = 0x7FFFFFFF;
// What the parse progress callback answers, whatever it is told.
constexpr int32_t kProgressGoOn = 2;

int32_t REX_CALL CreateProgress(int32_t, void*) { return kProgressGoOn; }

// Unloads the library when the render leaves, however it leaves; declared after
// the mapping so that the library goes first and the mapping is closed last.
class LibraryUse {
 public:
  LibraryUse() = default;
  ~LibraryUse() { UnloadRexLibrary(); }
  LibraryUse(const LibraryUse&) = delete;
  LibraryUse& operator=(const LibraryUse&) = delete;
};

}  // namespace

bool MappedInputFile::Open(const char* path) {
  Close();
  file_ = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  LARGE_INTEGER size{};
  if (file_ == INVALID_HANDLE_VALUE || !GetFileSizeEx(file_, &size) || size.QuadPart <= 0 ||
      static_cast<uint64_t>(size.QuadPart) > kMaxLoopFileBytes) {
    Close();
    return false;
  }
  mapping_ = CreateFileMappingA(file_, nullptr, PAGE_READONLY, size.HighPart, size.LowPart, nullptr);
  if (mapping_) view_ = MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(size.QuadPart));
  if (!view_) {
    Close();
    return false;
  }
  size_ = static_cast<uint32_t>(size.QuadPart);
  return true;
}

void MappedInputFile::Close() {
  if (view_) UnmapViewOfFile(view_);
  view_ = nullptr;
  if (mapping_) CloseHandle(mapping_);
  mapping_ = nullptr;
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  file_ = INVALID_HANDLE_VALUE;
  size_ = 0;
}

int RenderRexToWave(const char* rexPath, const char* outputPath, uint32_t* tempo) {
  // "Already loaded" raised the count as well: the use below lowers it again.
  const int load = LoadRexLibrary();
  if (load != kRexLoadOk && load != kRexLoadAlreadyLoaded) return kRenderFailed;
  MappedInputFile loop;
  LibraryUse library;
  if (!loop.Open(rexPath)) return kRenderFailed;

  const RexEntryTable* entries = LoadedRexEntries();
  RexHandle handle = 0;
  // The path goes along as the callback's user data, as the library expects.
  if (!entries || !entries->create ||
      entries->create(&handle, loop.View(), static_cast<int32_t>(loop.Size()), CreateProgress,
                      const_cast<char*>(rexPath)) != kRexOk) {
    return kRenderFailed;
  }

  int result = kRenderFailed;
  RexInfo info{};
  if (entries->getInfo(handle, sizeof info, &info) == kRexOk) {
    if (entries->getCreatorInfo) {
      char creator[kRexCreatorInfoSize];
      entries->getCreatorInfo(handle, sizeof creator, creator);
    }
    // The render keeps the loop's own sample rate.
    if (entries->setOutputSampleRate(handle, info.sampleRate) == kRexOk) {
      const uint32_t used = tempo && *tempo ? *tempo : static_cast<uint32_t>(info.tempo);
      if (tempo) *tempo = used;
      if (RenderRexLoop(LoadedRexEntries(), rexPath, outputPath, handle, used, info.sampleRate) ==
          kRexRenderOk) {
        result = kRenderSucceeded;
      }
    }
  }
  if (LoadedRexEntries() && entries->destroy) entries->destroy(&handle);
  return result;
}
