// A private folder under the system's temporary directory, removed with its files.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class TempDir {
 public:
  TempDir() {
    char base[MAX_PATH];
    GetTempPathA(MAX_PATH, base);
    static unsigned counter = 0;
    for (;;) {
      path_ = std::string(base) + "vextest" + std::to_string(GetCurrentProcessId()) + "_" +
              std::to_string(counter++);
      if (CreateDirectoryA(path_.c_str(), nullptr)) break;
    }
  }
  ~TempDir() {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path_ + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") DeleteFileA((path_ + "\\" + name).c_str());
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
    RemoveDirectoryA(path_.c_str());
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }

  // Writes `bytes` to a file of this folder and returns its full path.
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string full = path_ + "\\" + name;
    HANDLE file = CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
      CloseHandle(file);
    }
    return full;
  }

 private:
  std::string path_;
};
