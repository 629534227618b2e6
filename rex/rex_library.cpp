// The REX library loader: the search (common program files first, then the
// standard search without the current directory), the system and version checks,
// the binding of the fourteen entries by name, and the reference count.
#include "rex/rex_library.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "rex/standard_search.h"
#include "settings/settings_rules.h"

namespace {

// Tried in this order; the first that loads ends the search.
const char* const kLibraryNames[] = {
    "REX Shared Library Debugging.dll",
    "REX Shared Library Testing.dll",
    "REX Shared Library.dll",
};
const char* const kVendorFolders[] = {"Propellerhead Software", "Rex"};

// Paths are refused, not cut, at this many bytes with the terminator.
constexpr size_t kPathBufferSize = kPathCapacity;
// The loaded library's own path is read into this many bytes at most.
constexpr DWORD kModulePathChars = kPathCapacity;
// Accepted: 1.1.1 and above within major version 1, as minor × 1000 + build.
constexpr unsigned kLeastMinorBuild = 1001;

// Loads and unloads come from the preparation threads, one render at a time but
// not always the same thread: the three are changed under this lock only.
std::mutex g_loaderLock;
HMODULE g_library = nullptr;
int32_t g_loadCount = 0;
RexEntryTable g_entries;

// Switches the system's error boxes off for one scope and restores the previous mode.
class ScopedErrorMode {
 public:
  explicit ScopedErrorMode(UINT mode) : previous_(SetErrorMode(mode)) {}
  ~ScopedErrorMode() { SetErrorMode(previous_); }
  ScopedErrorMode(const ScopedErrorMode&) = delete;
  ScopedErrorMode& operator=(const ScopedErrorMode&) = delete;

 private:
  UINT previous_;
};

// Appends `part` when the result with its terminator stays below the buffer size.
bool AppendRefusingOverflow(char* path, const char* part) {
  const size_t have = std::strlen(path);
  const size_t add = std::strlen(part);
  if (have + add + 1 >= kPathBufferSize) return false;
  std::memcpy(path + have, part, add + 1);
  return true;
}

// The full path in the common program files folder's vendor folder; false when the
// folder is unknown or the path would not fit.
bool VendorFolderPath(const char* fileName, char* path) {
  // Looked up without creating it: a missing folder just means no copy there.
  if (FAILED(SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, SHGFP_TYPE_CURRENT,
                              path))) {
    return false;
  }
  for (const char* folder : kVendorFolders) {
    if (!AppendRefusingOverflow(path, "\\") || !AppendRefusingOverflow(path, folder)) return false;
  }
  return AppendRefusingOverflow(path, "\\") && AppendRefusingOverflow(path, fileName);
}

int LoadErrorCode(DWORD error) {
  switch (error) {
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return kRexLoadNoMemory;
    case ERROR_MOD_NOT_FOUND:
      return kRexLoadNotFound;
    default:
      return kRexLoadFailed;
  }
}

// Loads `fileName` from the first folder of the standard search that has it.
HMODULE LoadFromStandardSearch(const char* fileName) {
  char found[kPathBufferSize];
  if (!FindInStandardSearch(fileName, found, kPathBufferSize)) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // The library's own dependencies are looked for beside it first, as when the
  // system had found it by name.
  return LoadLibraryExA(found, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// One file name: the vendor folder first, then the standard search.
int TryLoad(const char* fileName) {
  char path[kPathBufferSize];
  if (VendorFolderPath(fileName, path)) {
    ScopedErrorMode quiet(SEM_FAILCRITICALERRORS);
    g_library = LoadLibraryA(path);
    if (g_library) return kRexLoadOk;
  }
  ScopedErrorMode quiet(SEM_FAILCRITICALERRORS);
  g_library = LoadFromStandardSearch(fileName);
  if (g_library) return kRexLoadOk;
  return LoadErrorCode(GetLastError());
}

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

// The library's file version as major, minor, build; false when it cannot be read.
bool ReadFileVersion(const char* path, unsigned parts[3]) {
  ScopedErrorMode quiet(SEM_NOOPENFILEERRORBOX);
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  if (!size) return false;
  std::unique_ptr<void, FreeDeleter> data(std::malloc(size));
  if (!data || !GetFileVersionInfoA(path, 0, size, data.get())) return false;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (!VerQueryValueA(data.get(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize) || !fixed ||
      fixedSize < sizeof(VS_FIXEDFILEINFO)) {
    return false;
  }
  parts[0] = HIWORD(fixed->dwFileVersionMS);
  parts[1] = LOWORD(fixed->dwFileVersionMS);
  parts[2] = HIWORD(fixed->dwFileVersionLS);
  return true;
}

// Accepts 1.1.1 up to anything below 2. A version resource that cannot be read
// counts as too old: an unknown library is not trusted with the player's process.
int CheckVersion() {
  char path[kModulePathChars + 1] = "";
  const DWORD length = GetModuleFileNameA(g_library, path, kModulePathChars);
  if (length == 0 || length >= kModulePathChars) return kRexLoadFailed;
  unsigned version[3];
  if (!ReadFileVersion(path, version)) return kRexLoadTooOld;
  if (version[0] >= 2) return kRexLoadTooNew;
  if (version[0] < 1) return kRexLoadTooOld;
  return version[1] * 1000 + version[2] >= kLeastMinorBuild ? kRexLoadOk : kRexLoadTooOld;
}

bool SystemIsXpOrLater() {
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!GetVersionExA(&info)) return false;
  return info.dwMajorVersion > 5 || (info.dwMajorVersion == 5 && info.dwMinorVersion >= 1);
}

template <typename Fn>
bool Bind(const char* name, Fn& entry) {
  entry = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(g_library, name)));
  return entry != nullptr;
}

bool BindAll() {
  RexEntryTable& t = g_entries;
  return Bind("Open", t.open) & Bind("Close", t.close) & Bind("REXCreate", t.create) &
         Bind("REXDelete", t.destroy) & Bind("REXGetInfo", t.getInfo) &
         Bind("REXGetInfoFromBuffer", t.getInfoFromBuffer) &
         Bind("REXGetCreatorInfo", t.getCreatorInfo) & Bind("REXGetSliceInfo", t.getSliceInfo) &
         Bind("REXSetOutputSampleRate", t.setOutputSampleRate) &
         Bind("REXRenderSlice", t.renderSlice) & Bind("REXStartPreview", t.startPreview) &
         Bind("REXStopPreview", t.stopPreview) &
         Bind("REXRenderPreviewBatch", t.renderPreviewBatch) &
         Bind("REXSetPreviewTempo", t.setPreviewTempo);
}

// Every failed load leaves the loader unloaded, count included.
int Abandon(int result) {
  g_entries = RexEntryTable{};
  if (g_library) FreeLibrary(g_library);
  g_library = nullptr;
  g_loadCount = 0;
  return result;
}

}  // namespace

int LoadRexLibrary() {
  std::lock_guard<std::mutex> lock(g_loaderLock);
  if (g_library) {
    ++g_loadCount;
    return kRexLoadAlreadyLoaded;
  }
  if (!SystemIsXpOrLater()) return kRexLoadOldSystem;

  int result = kRexLoadNotFound;
  for (const char* name : kLibraryNames) {
    result = TryLoad(name);
    if (result == kRexLoadOk) break;
  }
  if (result != kRexLoadOk) return Abandon(result);

  result = CheckVersion();
  if (result != kRexLoadOk) return Abandon(result);

  g_loadCount = 1;
  if (!BindAll()) return Abandon(kRexLoadFailed);
  if (!g_entries.open()) return Abandon(kRexLoadFailed);
  return kRexLoadOk;
}

void UnloadRexLibrary() {
  std::lock_guard<std::mutex> lock(g_loaderLock);
  if (g_loadCount < 0) return;
  if (g_loadCount > 0 && --g_loadCount > 0) return;
  if (g_entries.close) g_entries.close();
  g_entries = RexEntryTable{};
  if (g_library) FreeLibrary(g_library);
  g_library = nullptr;
}

const RexEntryTable* LoadedRexEntries() {
  std::lock_guard<std::mutex> lock(g_loaderLock);
  return g_library ? &g_entries : nullptr;
}
