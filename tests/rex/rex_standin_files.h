// Puts variants of the stand-in REX library where the loader looks for it (the
// common program files folder's vendor folder, a folder on PATH, the current
// directory), writes loop files in the stand-in's format, and reads the stand-in's
// call log. Everything placed is removed again on destruction.
#pragma once

#include <windows.h>
#include <shlobj.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "rex/rex_library.h"
#include "support/temp_dir.h"

namespace rexfiles {

constexpr char kPlainName[] = "REX Shared Library.dll";
constexpr char kLogVariable[] = "VEX_REX_STANDIN_LOG";

inline std::string ExeFolder() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.find_last_of('\\'));
}

// The file name a variant was built under.
inline std::string FileNameOf(const std::string& variant) {
  if (variant == "debugging") return "REX Shared Library Debugging.dll";
  if (variant == "testing") return "REX Shared Library Testing.dll";
  return kPlainName;
}

inline std::string BuiltVariant(const std::string& variant) {
  return ExeFolder() + "\\rexlib\\" + variant + "\\" + FileNameOf(variant);
}

inline std::string CommonFilesFolder() {
  char path[MAX_PATH] = "";
  SHGetFolderPathA(nullptr, CSIDL_PROGRAM_FILES_COMMON, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

// The stand-in's record of the calls it received since the last Take().
inline std::string TakeLog() {
  std::string log(32767, '\0');
  log.resize(GetEnvironmentVariableA(kLogVariable, &log[0], static_cast<DWORD>(log.size())));
  SetEnvironmentVariableA(kLogVariable, nullptr);
  return log;
}

// A loaded library cannot be deleted: the placements release it before they go.
inline void UnloadCompletely() {
  for (int i = 0; i < 16 && LoadedRexEntries(); ++i) UnloadRexLibrary();
}

inline bool AnyStandInLoaded() {
  for (const char* v : {"v1_2_0", "debugging", "testing"}) {
    if (GetModuleHandleA(FileNameOf(v).c_str())) return true;
  }
  return false;
}

// Copies of variants in the vendor folder, removed with the folders made for them.
class VendorFolder {
 public:
  VendorFolder() {
    vendor_ = CommonFilesFolder() + "\\Propellerhead Software";
    rex_ = vendor_ + "\\Rex";
    CreateDirectoryA(vendor_.c_str(), nullptr);
    CreateDirectoryA(rex_.c_str(), nullptr);
  }
  ~VendorFolder() {
    UnloadCompletely();
    for (const std::string& f : placed_) DeleteFileA(f.c_str());
    RemoveDirectoryA(rex_.c_str());
    RemoveDirectoryA(vendor_.c_str());
  }
  VendorFolder(const VendorFolder&) = delete;
  VendorFolder& operator=(const VendorFolder&) = delete;

  bool Place(const std::string& variant) {
    const std::string to = rex_ + "\\" + FileNameOf(variant);
    placed_.push_back(to);
    return CopyFileA(BuiltVariant(variant).c_str(), to.c_str(), FALSE) != FALSE;
  }

 private:
  std::string vendor_, rex_;
  std::vector<std::string> placed_;
};

// A private folder put in front of PATH for as long as it lives.
class PathFolder {
 public:
  PathFolder() {
    char old[32767] = "";
    GetEnvironmentVariableA("PATH", old, sizeof old);
    oldPath_ = old;
    SetEnvironmentVariableA("PATH", (dir_.Path() + ";" + oldPath_).c_str());
  }
  ~PathFolder() {
    UnloadCompletely();
    SetEnvironmentVariableA("PATH", oldPath_.c_str());
    for (const std::string& f : placed_) DeleteFileA(f.c_str());
  }
  PathFolder(const PathFolder&) = delete;
  PathFolder& operator=(const PathFolder&) = delete;

  bool Place(const std::string& variant) {
    const std::string to = dir_.Path() + "\\" + FileNameOf(variant);
    placed_.push_back(to);
    return CopyFileA(BuiltVariant(variant).c_str(), to.c_str(), FALSE) != FALSE;
  }
  const std::string& Path() const { return dir_.Path(); }

 private:
  TempDir dir_;
  std::string oldPath_;
  std::vector<std::string> placed_;
};

// A loop in the stand-in's format: planar float samples, repeated by the preview.
struct Loop {
  int32_t channels = 2;
  int32_t rate = 44100;
  int32_t tempo = 120000;
  int32_t length = 61440;
  int32_t flags = 0;  // 1: refuse the batch after the stop
  std::vector<float> samples[2];

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> b = {'V', 'X', 'L', 'P'};
    const int32_t stored = static_cast<int32_t>(samples[0].size());
    for (int32_t v : {channels, rate, tempo, length, flags, stored}) {
      for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    for (int c = 0; c < channels; ++c) {
      const size_t at = b.size();
      b.resize(at + 4 * samples[c].size());
      if (!samples[c].empty()) std::memcpy(&b[at], samples[c].data(), 4 * samples[c].size());
    }
    return b;
  }
};

}  // namespace rexfiles
