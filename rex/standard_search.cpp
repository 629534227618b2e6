// The standard search without the current directory.
#include "rex/standard_search.h"

#include <windows.h>

#include <string>

#include "settings/settings_rules.h"

namespace {

// A folder of the standard search is used only when it is absolute: a relative
// entry in PATH (".", "bin") would bring the current directory back in.
bool IsAbsoluteFolder(const std::string& folder) {
  return (folder.size() >= 3 && folder[1] == ':' && (folder[2] == '\\' || folder[2] == '/')) ||
         folder.compare(0, 2, "\\\\") == 0;
}

void AddFolder(std::string& list, const std::string& folder) {
  if (!IsAbsoluteFolder(folder)) return;
  if (!list.empty()) list += ';';
  list += folder;
}

// The standard library search without the current directory: the program's
// folder, the system folder, the Windows folder and PATH, in the system's order.
// A planted copy beside a document the user opened is never loaded. The list is
// built here rather than by SetDllDirectory(""), which Wine ignores and which
// changes the search of every thread of the process; LoadLibraryEx's
// LOAD_LIBRARY_SEARCH_* flags would drop PATH and are missing before Windows 8.
std::string SearchFolders() {
  std::string list;
  char folder[kPathCapacity];
  const DWORD n = GetModuleFileNameA(nullptr, folder, sizeof folder);
  if (n > 0 && n < sizeof folder) {
    std::string program(folder, n);
    AddFolder(list, program.substr(0, program.find_last_of('\\')));
  }
  UINT length = GetSystemDirectoryA(folder, MAX_PATH);
  if (length > 0 && length < MAX_PATH) AddFolder(list, folder);
  length = GetWindowsDirectoryA(folder, MAX_PATH);
  if (length > 0 && length < MAX_PATH) AddFolder(list, folder);

  const DWORD pathChars = GetEnvironmentVariableA("PATH", nullptr, 0);
  if (pathChars > 0) {
    std::string path(pathChars, '\0');
    const DWORD got = GetEnvironmentVariableA("PATH", &path[0], pathChars);
    path.resize(got < pathChars ? got : 0);
    for (size_t at = 0; at <= path.size();) {
      size_t end = path.find(';', at);
      if (end == std::string::npos) end = path.size();
      AddFolder(list, path.substr(at, end - at));
      at = end + 1;
    }
  }
  return list;
}

}  // namespace

bool FindInStandardSearch(const char* fileName, char* found, size_t capacity) {
  if (!found || capacity == 0) return false;
  found[0] = '\0';
  const DWORD limit = capacity < kPathCapacity ? static_cast<DWORD>(capacity) : kPathCapacity;
  const DWORD n = SearchPathA(SearchFolders().c_str(), fileName, nullptr, limit, found, nullptr);
  if (n == 0 || n >= limit) {
    found[0] = '\0';
    return false;
  }
  return true;
}
